// The clipboard over GTK.
//
// Text goes out with CR LF line ends, which other programs expect there, and
// comes back with LF. Files go out as a text/uri-list of absolute file URIs;
// when reading, a uri-list wins over text, since file managers offer both.
// Emptying the clipboard means owning it with a private format that nothing,
// this reader included, takes. The data of a file list is served from here
// when other programs ask, so it lives in this file until replaced.
#include "platform/clipboard.h"

#include <gtk/gtk.h>

#include <algorithm>

#include <string>
#include <utility>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/image_backend.h"
#include "datatypes/file.h"
#include "datatypes/string.h"
#include "datatypes/string_actions.h"
#include "evaluator/routines.h"
#include "platform/gtk_start.h"
#include "platform/text.h"
#include "runtime/collector.h"
#include "runtime/errors.h"

namespace zan::platform::clipboard {

namespace {

constexpr const char* empty_format = "application/x-zan-empty";
// The formats we own and the bytes offered for each, by target index.
std::vector<std::pair<std::string, std::string>> served;

void serve(GtkClipboard*, GtkSelectionData* sel, guint info, gpointer) {
    if (info >= served.size()) return;
    const std::string& bytes = served[info].second;
    gtk_selection_data_set(sel, gtk_selection_data_get_target(sel), 8,
                           reinterpret_cast<const guchar*>(bytes.data()), gint(bytes.size()));
}
void forget(GtkClipboard*, gpointer) {}

bool own(std::vector<std::pair<std::string, std::string>> offers) {
    served = std::move(offers);
    std::vector<GtkTargetEntry> entries;
    for (size_t i = 0; i < served.size(); ++i)
        entries.push_back({const_cast<gchar*>(served[i].first.c_str()), 0, guint(i)});
    return gtk_clipboard_set_with_data(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), entries.data(),
                                       guint(entries.size()), serve, forget, nullptr);
}

std::string with_crlf(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

// The absolute path of a file! or string!, as a file URI line.
std::string uri_line(const Cell& v) {
    Cell path = string::make_value(string::length(v) + 1);
    collector::Root keep(path);
    file::to_local_path(v, series_node(path), true);
    std::string local = text::encode(path);
    gchar* uri = g_filename_to_uri(local.c_str(), nullptr, nullptr);
    std::string line = uri ? std::string(uri) + "\r\n" : std::string();
    g_free(uri);
    return line;
}

bool has_target(GdkAtom* targets, gint n, const char* name) {
    GdkAtom want = gdk_atom_intern(name, FALSE);
    for (gint i = 0; i < n; ++i)
        if (targets[i] == want) return true;
    return false;
}

Cell read_files(GtkClipboard* cb) {
    gchar** uris = gtk_clipboard_wait_for_uris(cb);
    if (!uris) return logic_cell(false);
    Cell block;
    block::make_at(block, int32_t(g_strv_length(uris)) + 1);
    collector::Root keep(block);
    for (gchar** u = uris; *u; ++u) {
        gchar* path = g_filename_from_uri(*u, nullptr, nullptr);
        if (!path) continue;
        std::string local = path;
        g_free(path);
        Cell f = text::decode(local, false);
        block::rs_append(block, set_type(f, Type::file));
    }
    g_strfreev(uris);
    return block;
}

}  // namespace

Cell read() {
    if (!gtk::start()) return logic_cell(false);
    // Another program may have taken the clipboard: hear of it first.
    gtk::pump();
    GtkClipboard* cb = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
    GdkAtom* targets = nullptr;
    gint n = 0;
    if (!gtk_clipboard_wait_for_targets(cb, &targets, &n)) return none_cell();
    bool files = has_target(targets, n, "text/uri-list");
    bool text = gtk_targets_include_text(targets, n);
    const char* image = nullptr;
    for (const char* format : {"image/png", "image/jpeg", "image/gif", "image/bmp"})
        if (!image && has_target(targets, n, format)) image = format;
    g_free(targets);
    if (files) return read_files(cb);
    if (text) {
        gchar* t = gtk_clipboard_wait_for_text(cb);
        if (!t) return logic_cell(false);
        std::string bytes = t;
        g_free(t);
        return text::decode(bytes, true);
    }
    if (image) {
        GtkSelectionData* data = gtk_clipboard_wait_for_contents(cb, gdk_atom_intern(image, FALSE));
        if (!data) return logic_cell(false);
        gint length = 0;
        const guchar* p = gtk_selection_data_get_data_with_length(data, &length);
        std::string bytes(reinterpret_cast<const char*>(p), size_t(std::max(length, 0)));
        gtk_selection_data_free(data);
        Cell bin = text::make_binary(bytes);
        collector::Root keep(bin);
        return image::decode_binary(bin);
    }
    return none_cell();
}

bool write(const Cell& value) {
    Type t = type_of(value);
    std::string bytes;
    std::vector<std::pair<std::string, std::string>> offers;
    if (t == Type::string) {
        bytes = with_crlf(text::encode(value));
    } else if (t == Type::block) {
        for (int32_t i = 0, n = block::rs_length(value); i < n; ++i) {
            Cell v = *block::rs_abs_at(value, int32_t(series_index(value)) + i);
            if (!is(v, Type::file) && !is(v, Type::string)) errors::fire(errors::id::invalid_arg, &v);
            bytes += uri_line(v);
        }
        offers.emplace_back("text/uri-list", std::move(bytes));
    } else if (t == Type::image) {
        // PNG keeps the alpha; BMP is for readers that know no other format.
        if (image::pixel_count(value) > 0)
            for (auto [format, mime] : {std::pair{image::png, "image/png"}, std::pair{image::bmp, "image/bmp"}}) {
                Cell encoded = image::encode(value, format);
                if (is(encoded, Type::binary)) offers.emplace_back(mime, std::string(text::binary_bytes(encoded)));
            }
    } else if (t != Type::none) {
        errors::fire(errors::id::invalid_arg, &value);
    }
    if (!gtk::start()) return false;
    bool ok = true;
    if (t == Type::string)
        gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), bytes.data(), gint(bytes.size()));
    else
        ok = own(offers.empty() ? decltype(offers){{empty_format, ""}} : std::move(offers));
    gtk::pump();
    return ok;
}

namespace {

void read_routine(Cell* args) { args[0] = read(); }
void write_routine(Cell* args) { args[0] = logic_cell(write(args[0])); }

}  // namespace

void install() {
    routines::add("read-clipboard", read_routine);
    routines::add("write-clipboard", write_routine);
}

}  // namespace zan::platform::clipboard
