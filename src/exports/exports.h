// The C boundary: every export checks its arguments, calls one internal
// function and maps the outcome to its documented result. No exception
// crosses it.
#pragma once

#include <new>

#include "kelm3.h"

namespace kelm {

// Runs body() and returns its result, or `failure` when it throws.
template <typename T, typename F>
T guarded(T failure, F&& body) noexcept
{
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

template <typename F>
void guarded_void(F&& body) noexcept
{
    try {
        body();
    } catch (...) {
    }
}

}  // namespace kelm
