// Start-up registration of the datatypes, in the order the runtime has always
// used: parents before their children (series! before block!, url! before file!).
// Each datatype adds its init call at its place in the list.
#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/file.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/hash.h"
#include "datatypes/handle.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/issue.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/mold.h"
#include "datatypes/date.h"
#include "datatypes/money.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/paren.h"
#include "datatypes/percent.h"
#include "datatypes/path.h"
#include "datatypes/port.h"
#include "datatypes/point.h"
#include "datatypes/series.h"
#include "datatypes/string_actions.h"
#include "datatypes/symbol.h"
#include "datatypes/text_kinds.h"
#include "datatypes/time.h"
#include "datatypes/tuple.h"
#include "datatypes/typeset.h"
#include "datatypes/url.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"
#include "gui/backend/event.h"
#include "gui/backend/render.h"
#include "runtime/errors.h"

namespace zan::datatype {

void register_all() {
    static bool done = false;
    if (done) return;
    done = true;

    errors::init();
    mold::init();
    datatype::init();
    unset::init();
    none::init();
    logic::init();
    series::init();
    block::init();
    string::init();
    binary::init();
    integer::init();
    symbol::init();
    context::init();
    word::init();  // word!, lit-word!, set-word!, get-word!, refinement!
    character::init();
    native::init();
    action::init();
    op::init();
    path::init();  // path!, lit-path!, set-path!, get-path!
    function::init();
    routine::init();
    paren::init();
    issue::init();
    url::init();
    file::init();
    object::init();
    bitset::init();
    triple::init();
    float_::init();
    typeset::init();
    error::init();
    vector::init();
    map::init();
    hash::init();
    pair::init();
    percent::init();
    tuple::init();
    time_::init();
    tag::init();
    email::init();
    handle::init();
    date::init();
    port::init();
    money::init();
    ref::init();
    point::init();  // point2D!, point3D!
    image::init();  // the image back end, then image!
    render::init();  // drawing onto images and faces (its device hooks)
    gui::event::init();
}

}  // namespace zan::datatype
