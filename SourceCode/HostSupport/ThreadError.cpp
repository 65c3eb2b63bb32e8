#include "ThreadError.h"

namespace HostSupport {

uint32_t& ThreadError() {
    thread_local uint32_t error = 0;
    return error;
}

} // namespace HostSupport
