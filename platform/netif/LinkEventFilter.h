#pragma once
// A socket filter that lets the kernel drop the link events of interfaces
// a watch does not care about, so that they never wake the program: link
// messages whose name (the first attribute, where the kernel puts it) does
// not match the pattern and whose index is none of the given ones. Dump
// parts, the end of a dump, errors and anything laid out otherwise pass.
//
// An event is filtered when it is queued: a link that starts to match is
// followed by index from the moment the watch has read that, so a rename
// away from the pattern queued before then is not seen. A link must be down
// to be renamed, which the watch has seen by its name.

#include <linux/filter.h>

#include <cstdint>
#include <set>
#include <vector>

#include "platform/netif/InterfacePattern.h"

// The filter's code. `indexes` are the links the watch follows: their
// events pass whatever their names are now (a rename away from the pattern
// must reach the watch). With very many of them every event passes.
std::vector<sock_filter> linkEventFilter(const InterfacePattern& pattern, const std::set<int32_t>& indexes);

// Attaches (or replaces) the filter on the netlink socket `fd`; false when
// the system refuses it, in which case every event keeps arriving.
bool attachLinkEventFilter(int fd, const InterfacePattern& pattern, const std::set<int32_t>& indexes);
