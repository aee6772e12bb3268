#include "support/private_network.h"

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kairovel::testing {

bool EnterPrivateNetwork() {
    if (::unshare(CLONE_NEWNET) != 0) {
        std::fprintf(stderr, "cannot create a private network namespace: %s (run the tests as root)\n",
                     std::strerror(errno));
        return false;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
    up = up && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    ::close(fd);
    if (!up) std::fprintf(stderr, "cannot bring up the loopback interface: %s\n", std::strerror(errno));
    return up;
}

}  // namespace kairovel::testing
