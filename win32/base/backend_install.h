// What installing any backend shares: the check of its table's required members, done once there so that
// callers never check, and the one line on stderr for a call that needs a backend nobody installed.
#ifndef PELOMI_WIN32_BACKEND_INSTALL_H
#define PELOMI_WIN32_BACKEND_INSTALL_H

#include <atomic>
#include <initializer_list>

namespace w32 {

struct RequiredMember {
    const char* name;
    bool present;
};

// False when a member is missing, naming the first on stderr: the backend is then not installed.
bool HasRequiredMembers(const char* kind, const char* backend, std::initializer_list<RequiredMember> members);

// "no <kind> installed: <consequence>" on stderr, the first time only for each `said`.
void SayNotInstalled(std::atomic<bool>& said, const char* kind, const char* consequence);

}  // namespace w32

#endif
