#pragma once

#include <QCoroTask>
#include <QEventLoop>

#include <exception>
#include <optional>
#include <type_traits>

namespace halvik {

// Runs a task to completion in a nested event loop and returns its result, rethrowing
// whatever it threw. For tests and benchmarks only: the product itself never nests a loop.
// (QCoro's own waitFor loses exceptions and then never returns.)
template <typename T> T waitFor(QCoro::Task<T>&& task)
{
    QEventLoop loop;
    bool done = false;
    std::exception_ptr failure;
    std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> result{};

    auto runner = [&](QCoro::Task<T> inner) -> QCoro::Task<> {
        try {
            if constexpr (std::is_void_v<T>)
                co_await std::move(inner);
            else
                result.emplace(co_await std::move(inner));
        } catch (...) {
            failure = std::current_exception();
        }
        done = true;
        loop.quit();
    };
    auto running = runner(std::move(task));
    if (!done)
        loop.exec();
    if (failure)
        std::rethrow_exception(failure);
    if constexpr (!std::is_void_v<T>)
        return std::move(*result);
}

} // namespace halvik
