#include "LegacyKeys.h"

#include <nlohmann/json.hpp>

namespace halvik {

namespace {

using Json = nlohmann::ordered_json;

Json stripObservationPrefixes(const Json& value)
{
    if (value.is_array()) {
        Json out = Json::array();
        for (const auto& element : value)
            out.push_back(stripObservationPrefixes(element));
        return out;
    }
    if (value.is_object()) {
        Json out = Json::object();
        for (const auto& [key, child] : value.items()) {
            if (key.starts_with("_$"))
                continue;
            const std::string plain = key.starts_with('_') ? key.substr(1) : key;
            // When a legacy document holds both `_key` and `key`, the plain spelling wins.
            if (out.contains(plain) && plain != key)
                continue;
            out[plain] = stripObservationPrefixes(child);
        }
        return out;
    }
    return value;
}

} // namespace

std::optional<QByteArray> normalizeObservableKeys(const QByteArray& bytes)
{
    Json parsed = Json::parse(bytes.constBegin(), bytes.constEnd(), nullptr, /*allow_exceptions=*/false);
    if (parsed.is_discarded())
        return std::nullopt;
    try {
        const std::string text = stripObservationPrefixes(parsed).dump();
        return QByteArray::fromStdString(text);
    } catch (const Json::exception&) {
        return std::nullopt;
    }
}

} // namespace halvik
