// A small reporter for the Windows test host's checks: one line per failure,
// a summary at the end, and the exit status.
#pragma once

#include <cstdio>
#include <string>
#include <type_traits>

namespace q5win {

class Checks {
public:
    explicit Checks(const char *what) : what_(what) {}
    /// Records one check; prints it when it fails.
    bool expect(bool ok, const std::string &description) {
        ++count_;
        if (!ok) {
            ++failed_;
            std::printf("FAIL %s: %s\n", what_, description.c_str());
        }
        return ok;
    }
    template <typename A, typename B>
    bool expectEq(const A &actual, const B &expected, const std::string &description) {
        const bool ok = actual == expected;
        if (!ok)
            return expect(false, description + " (got " + text(actual) + ", want " + text(expected) + ")");
        return expect(true, description);
    }
    /// Prints the summary; the process exit status for these checks.
    int finish() const {
        std::printf("%s: %d checks, %d failed\n", what_, count_, failed_);
        std::fflush(stdout);
        return failed_ == 0 ? 0 : 1;
    }
    bool failed() const { return failed_ != 0; }

private:
    template <typename T>
    static std::string text(const T &v) {
        if constexpr (std::is_convertible_v<T, std::string>) {
            // Appended piece by piece: GCC 12 warns falsely about literal + std::string at -O3.
            std::string s(1, '"');
            s += v;
            s += '"';
            return s;
        } else if constexpr (std::is_pointer_v<T>) {
            return v ? "pointer" : "null";
        } else {
            return std::to_string(v);
        }
    }
    const char *what_;
    int count_ = 0;
    int failed_ = 0;
};

}  // namespace q5win
