// SPDX-License-Identifier: GPL-2.0-or-later
// lumivox-mjpeg-test: the job helper program with the test job kinds added, so that the
// tests can make a helper job talk, fail, exit, crash or hang.

#include "support/mjpeg_test_jobs.h"

int main(int argc, char** argv)
{
    return lumivox::MjpegHelperMain(argc, argv, lumivox::test::RunMjpegTestJobKind);
}
