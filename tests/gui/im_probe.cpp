/* An input method module for the GUI tests: it remembers the cursor
 * rectangle a face gives its input method and, on F9, commits that
 * rectangle as text ("x,y,width,height"), so a script sees where the input
 * method was told the caret is. Every other key passes through untouched. */
#include <gtk/gtk.h>
#include <gtk/gtkimmodule.h>
#include <cstdio>

typedef struct {
    GtkIMContext parent;
    GdkRectangle cursor;
} ZanImProbe;

typedef struct {
    GtkIMContextClass parent_class;
} ZanImProbeClass;

G_DEFINE_DYNAMIC_TYPE(ZanImProbe, zan_im_probe, GTK_TYPE_IM_CONTEXT)

static void probe_set_cursor_location(GtkIMContext* context, GdkRectangle* area) {
    reinterpret_cast<ZanImProbe*>(context)->cursor = *area;
}

static gboolean probe_filter_keypress(GtkIMContext* context, GdkEventKey* event) {
    if (event->type != GDK_KEY_PRESS || event->keyval != GDK_KEY_F9) return FALSE;
    GdkRectangle r = reinterpret_cast<ZanImProbe*>(context)->cursor;
    char text[64];
    std::snprintf(text, sizeof text, "%d,%d,%d,%d", r.x, r.y, r.width, r.height);
    g_signal_emit_by_name(context, "commit", text);
    return TRUE;
}

static void zan_im_probe_class_init(ZanImProbeClass* klass) {
    GtkIMContextClass* im = GTK_IM_CONTEXT_CLASS(klass);
    im->set_cursor_location = probe_set_cursor_location;
    im->filter_keypress = probe_filter_keypress;
}

static void zan_im_probe_class_finalize(ZanImProbeClass*) {}

static void zan_im_probe_init(ZanImProbe* probe) {
    probe->cursor.x = probe->cursor.y = -1;
    probe->cursor.width = probe->cursor.height = 0;
}

static const GtkIMContextInfo probe_info = {"zan-probe", "Zan test probe", "", "", ""};
static const GtkIMContextInfo* probe_list[] = {&probe_info};

extern "C" G_MODULE_EXPORT void im_module_init(GTypeModule* module) { zan_im_probe_register_type(module); }

extern "C" G_MODULE_EXPORT void im_module_exit(void) {}

extern "C" G_MODULE_EXPORT void im_module_list(const GtkIMContextInfo*** contexts, int* n_contexts) {
    *contexts = probe_list;
    *n_contexts = 1;
}

extern "C" G_MODULE_EXPORT GtkIMContext* im_module_create(const gchar* context_id) {
    if (g_strcmp0(context_id, "zan-probe") != 0) return nullptr;
    return GTK_IM_CONTEXT(g_object_new(zan_im_probe_get_type(), nullptr));
}
