#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace vd::test {

// Sets or clears one environment variable for a test and puts the old value back afterwards,
// so one test's environment never leaks into the next one in the same process.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            saved_ = old;
        apply(value);
    }
    ~ScopedEnv() { apply(saved_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

    void apply(const std::optional<std::string>& value) const
    {
        if (value)
            ::setenv(name_, value->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> saved_;
};

} // namespace vd::test
