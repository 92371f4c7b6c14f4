// The toolkit's text helpers.
#pragma once

#include "int_to_str.h"

using core::IntToStr;
