#pragma once

#include <sys/resource.h>

#include <fstream>
#include <string>

// While one lives, the process may map only the given MiB more than it
// has, as on a machine whose memory is spent. The address sanitizer needs
// all the address space it reserves: under it nothing is limited, and
// limited() tells.
class AddressSpaceLimit {
public:
    explicit AddressSpaceLimit(long mebibytes)
    {
#if !defined(__SANITIZE_ADDRESS__)
        getrlimit(RLIMIT_AS, &m_saved);
        std::ifstream status("/proc/self/status");
        std::string line;
        long kilobytes = 0;
        while (std::getline(status, line))
            if (line.rfind("VmSize:", 0) == 0)
                kilobytes = std::stol(line.substr(7));
        rlimit tight = m_saved;
        tight.rlim_cur = static_cast<rlim_t>(kilobytes + mebibytes * 1024) * 1024;
        m_limited = kilobytes > 0 && setrlimit(RLIMIT_AS, &tight) == 0;
#else
        (void)mebibytes;
#endif
    }
    ~AddressSpaceLimit()
    {
        if (m_limited)
            setrlimit(RLIMIT_AS, &m_saved);
    }
    AddressSpaceLimit(AddressSpaceLimit const&) = delete;
    AddressSpaceLimit& operator=(AddressSpaceLimit const&) = delete;
    bool limited() const { return m_limited; }

private:
    rlimit m_saved {};
    bool m_limited = false;
};
