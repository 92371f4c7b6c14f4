#include "net_support.h"
