#pragma once

#include <QString>

namespace halvik::PhpRequirement {

// Whether a PHP version ("8.2.12") meets a Composer-style requirement as the wizard judges
// it: empty or "*" always; "a|b" when either does; "^x.y" the same major and at least x.y;
// "~x.y" the same major and minor and at least x.y; ">=", ">", "<=", "<" on the dotted numbers;
// a bare version equal (with two parts, equal major and minor).
bool satisfies(const QString& version, const QString& requirement);

} // namespace halvik::PhpRequirement
