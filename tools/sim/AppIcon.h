#pragma once

#include <string>
#include <string_view>

namespace vd::sim {

// The PNG icon of an application: a rounded square in a colour of its own, the same in every run.
std::string appIconPng(std::string_view bundleId);

} // namespace vd::sim
