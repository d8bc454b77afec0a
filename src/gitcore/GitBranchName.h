#pragma once

#include <QString>

#include <optional>

namespace halvik::gitcore {

// Git's rules for a new branch's name (those of `git check-ref-format --branch`), checked as the
// name is typed. Returns the sentence that says what is wrong, or nothing for a name Git takes.
// An empty name has no problem: there is nothing to create yet.
std::optional<QString> branchNameProblem(const QString& name);

} // namespace halvik::gitcore
