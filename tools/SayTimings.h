#pragma once
// parlen-say's --timings files: the timings a render's books are made with.
#include "books/Timings.h"

using books::TimingsFormat;
using books::TimingsFormatOf;
