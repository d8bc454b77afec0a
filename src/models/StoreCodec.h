#pragma once

#include "HostAccount.h"
#include "Site.h"
#include "SourceControlAccount.h"
#include "StoreRecords.h"

#include "async/HalvikError.h"

#include <QByteArray>
#include <QList>

#include <functional>

namespace halvik {

// The shared records of a store, in list order.
struct StoreSnapshot
{
    QList<SitePtr> sites;
    QList<HostAccountPtr> hosts;
    QList<SourceControlAccount> sourceControlAccounts;
};

// A document that is not valid JSON, lacks a required key or has a wrong type anywhere.
class StoreDecodeError : public HalvikError
{
public:
    using HalvikError::HalvikError;
};

// store.json encoding: compact JSON, keys in declaration order, dates as seconds since
// 2001-01-01 00:00:00 UTC, upper-case UUIDs, unset optional values left out (never null).
// Keys written by older versions (a leading underscore, `_$…` bookkeeping) read as plain keys.
// Only the newest operations of a site and the head and tail of long logs are written.
namespace StoreCodec {

// Writes the document in pieces of about a mebibyte, so a large store needs no second copy.
void write(const StoreDocument& document, const std::function<void(const QByteArray&)>& sink);
QByteArray encode(const StoreDocument& document);
QByteArray encodeSite(const SiteRecord& site);
// Throws StoreDecodeError; a single bad record fails the whole document. Log texts keep
// pointing into `bytes` until they are read.
StoreDocument decode(const QByteArray& bytes);

// The same over the shared records.
StoreDocument records(const StoreSnapshot& snapshot);
StoreSnapshot objects(const StoreDocument& document);
inline QByteArray encode(const StoreSnapshot& snapshot)
{
    return encode(records(snapshot));
}
inline StoreSnapshot decodeObjects(const QByteArray& bytes)
{
    return objects(decode(bytes));
}

double toReferenceSeconds(const QDateTime& date);
QDateTime fromReferenceSeconds(double seconds);

} // namespace StoreCodec

} // namespace halvik
