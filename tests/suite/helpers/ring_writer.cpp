// SPDX-License-Identifier: MIT
// Test helper: posts self-checking events into the ring of $QORVANE_WORKDIR.
//
//   ring_writer write FIRST COUNT          posts events FIRST .. FIRST+COUNT-1 as fast as it can
//   ring_writer race GOFILE FIRST COUNT    waits until GOFILE exists, then initialises and posts (many of
//                                          these started together race to create the ring)
//
// Exit code 0 on success; otherwise the library's result code is printed.

#include "RingCheck.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

static int postAll(uint32_t first, uint32_t count)
{
    const int32_t rc = InitLogLibrary();
    if (rc != 0) {
        fprintf(stderr, "InitLogLibrary: %d %s\n", rc, GetErrorTextUtf8(rc));
        return 1;
    }
    for (uint32_t i = 0; i < count; ++i) {
        const int32_t pos = ringcheck::post(first + i);
        if (pos < 0) {
            fprintf(stderr, "PostEvent: %d %s\n", pos, GetErrorTextUtf8(pos));
            return 1;
        }
    }
    ExitLogLibrary();
    return 0;
}

int main(int argc, char** argv)
{
    if (argc == 4 && strcmp(argv[1], "write") == 0) {
        return postAll(uint32_t(strtoul(argv[2], nullptr, 10)), uint32_t(strtoul(argv[3], nullptr, 10)));
    }
    if (argc == 5 && strcmp(argv[1], "race") == 0) {
        struct stat st
        {
        };
        for (int i = 0; i < 20000 && stat(argv[2], &st) != 0; ++i) {
            usleep(100);
        }
        return postAll(uint32_t(strtoul(argv[3], nullptr, 10)), uint32_t(strtoul(argv[4], nullptr, 10)));
    }
    fprintf(stderr, "usage: ring_writer write FIRST COUNT | race GOFILE FIRST COUNT\n");
    return 2;
}
