// lumivox-mjpeg: runs one still-encoder or multiplexer job that the program hands it on
// standard input, reporting on descriptor 3. Not meant to be started by hand.

#include "production/MjpegJob.h"

int main() { return lumivox::MjpegHelperMain(); }
