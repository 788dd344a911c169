// Random machines for comparing the stand-in with a real registry: the same
// seed gives the same machine on any host. Each machine holds uninstall
// entries machine-wide (on half of them, 64-bit Windows, in both registry
// views), in the user's own hive and
// in other hives; display names built from every browser marker and from
// ordinary programs, GBK included; install locations present, absent, empty,
// with a trailing backslash, as REG_EXPAND_SZ, and long; odd value types;
// names and data at and past the launcher's buffer sizes; value names in
// other letter case. Its expectations are left empty: what the stand-in does
// on it is the expectation the real run is checked against.
#pragma once

#include "machines/scenario.h"

#include <cstdint>

namespace machines {

Scenario RandomMachine(std::uint64_t seed);

}  // namespace machines
