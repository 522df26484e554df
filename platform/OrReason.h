// A value, or the reason it cannot be had: a Polish text that says what to
// mend. The plain cores report every failure this way; the window turns a
// reason into its error box inside its guarded handlers, the tool into its
// exit code.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace platform {

template <class T> struct OrReason {
    std::optional<T> value;
    std::string error; // empty while there is a value

    static OrReason Fail(std::string reason) {
        OrReason reading;
        reading.error = std::move(reason);
        return reading;
    }
    explicit operator bool() const { return value.has_value(); }
    const T& operator*() const { return *value; }
    const T* operator->() const { return &*value; }
};

// Something done that yields no value: done, or why not.
struct Done {};
using Outcome = OrReason<Done>;
inline Outcome Ok() {
    return {Done{}, {}};
}

} // namespace platform
