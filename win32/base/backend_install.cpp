// The required-member check and the "not installed" line every Install function and its callers share.
// Leaves out the defaults of optional members: each interface documents and fills its own.
#include "backend_install.h"

#include <errno.h>

#include <cstdio>

namespace w32 {

bool HasRequiredMembers(const char* kind, const char* backend, std::initializer_list<RequiredMember> members) {
    for (const RequiredMember& member : members) {
        if (member.present) continue;
        std::fprintf(stderr, "%s: %s backend \"%s\" not installed: it has no %s\n", program_invocation_short_name,
                     kind, backend != nullptr ? backend : "", member.name);
        return false;
    }
    return true;
}

void SayNotInstalled(std::atomic<bool>& said, const char* kind, const char* consequence) {
    if (!said.exchange(true))
        std::fprintf(stderr, "%s: no %s installed: %s\n", program_invocation_short_name, kind, consequence);
}

}  // namespace w32
