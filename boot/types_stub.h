// Stand-in registration of string! (form, mold, compare over the landed
// string storage) until the string! actions land with their own registration.
#pragma once

namespace zan::types_stub {
void init();
}
