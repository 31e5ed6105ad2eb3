// SPDX-License-Identifier: GPL-2.0-or-later
// lumivox-mjpeg: runs the still-encoder and multiplexer jobs that the program hands it on
// standard input, reporting on descriptor 3. Not meant to be started by hand.

#include "production/MjpegJob.h"

int main(int argc, char** argv)
{
    return lumivox::MjpegHelperMain(argc, argv);
}
