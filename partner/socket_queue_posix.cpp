#include "partner/socket_queue.h"

#include <sys/ioctl.h>
#include <termios.h>

size_t UntakenOctets(uintptr_t handle)
{
    // TIOCOUTQ on a TCP socket is SIOCOUTQ: sent and not acknowledged, plus
    // not sent yet.
    int queued = 0;
    if (ioctl(int(handle), TIOCOUTQ, &queued) != 0 || queued < 0)
        return 0;
    return size_t(queued);
}
