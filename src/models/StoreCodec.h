#pragma once

#include "HostAccount.h"
#include "Site.h"
#include "SourceControlAccount.h"

#include "async/HalvikError.h"

#include <QByteArray>
#include <QList>

namespace halvik {

// The decoded document: sites, hosts and source-control accounts, in file order.
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
namespace StoreCodec {

QByteArray encode(const StoreSnapshot& snapshot);
// Throws StoreDecodeError; a single bad record fails the whole document.
StoreSnapshot decode(const QByteArray& bytes);

double toReferenceSeconds(const QDateTime& date);
QDateTime fromReferenceSeconds(double seconds);

} // namespace StoreCodec

} // namespace halvik
