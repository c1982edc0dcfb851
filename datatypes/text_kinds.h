// tag!, email! and ref!: string! values written their own way. Each registers
// with parent string!, inheriting the slots its list marks, and adds only its
// text (and, for email!, the user and host path words).
#pragma once

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::tag { void init(); }
namespace zan::email { void init(); }
namespace zan::ref { void init(); }
