#pragma once

#include <QString>
#include <functional>

namespace morven {

// How long a station's check gives a port on another machine to answer.
inline constexpr int ReachLimitMs = 30000;

// Whether a port on another machine answers now, as a station's check asks before a write would
// use up a value on it: an rfc2217:// server is connected to, its line set, and let go; through
// ssh:// the login is made, and the remote morven-cli says that it speaks this one's remote
// format and that the device is there. Empty when it answers, else why not, naming the URL.
// Bounded by ReachLimitMs; stop() true (a signal came) ends the wait at once.
QString UnreachedPort(const QString& url, const std::function<bool()>& stop);

}  // namespace morven
