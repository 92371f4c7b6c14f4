// The loopback UDP receiver lives in its header; this unit is what the end-to-end tests link.
#include "net_support.h"
