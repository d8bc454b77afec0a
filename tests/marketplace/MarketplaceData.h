#pragma once

// Answers of the fake marketplace and Packagist, kept apart from the test class so the meta-object
// compiler never reads them.

#include <QByteArray>

namespace marketplace_data {

inline const QByteArray downBody = R"({"message":"down"})";

inline const QByteArray oddRows = R"([
            {"name": "Paid Kit", "slug": "paid-kit", "package": "acme/paid", "summary": "S",
             "seller": {"name": "Acme", "slug": "acme"}, "price_range": ["19.50", "49"],
             "assets": [{"url": "https://img/1.png"}, {"url": "https://img/2.png"}], "is_listed": false},
            {"name": "Free Kit", "slug": "free-kit", "package": "acme/free", "price_range": [0, 0]},
            {"name": 12, "package": "acme/bad-name"},
            {"name": "No package"},
            "not an object"
        ])";

inline const QByteArray cmsMetadata = R"({"packages": {"quillmar/cms": [
            {"version": "6.0.0-RC1", "require": {"php": "^8.3"}},
            {"version": "5.9.3", "require": {"php": "^8.1"}},
            {"version": "5.10.0", "require": {"php": "^8.2"}},
            {"version": "5.11.0-beta.2"},
            {"version": "v4.60.1", "require": {"php": "^8.0"}},
            {"version": "4.7.0"},
            {"version": "dev-main"}
        ]}})";

} // namespace marketplace_data
