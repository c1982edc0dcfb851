// File and directory requesters: modal GtkFileChooserDialogs, transient for
// the active window. Filters come as label/pattern pairs ("*.zan;*.zans":
// patterns split at ";", "*.*" meaning every file); every value of a filter
// block must be a string! or file!, checked before any dialog opens. Chosen
// paths go through `to-zan-file`; a folder ends in "/". Without a display the
// answer is none.
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "gui/backend/views.h"
#include "platform/gtk_start.h"
#include "platform/text.h"
#include "runtime/collector.h"
#include "runtime/errors.h"

namespace zan::gui::views {

namespace {

std::string kept_folder;  // the folder last chosen with /keep

// to-zan-file of a native path.
Cell zan_file(const std::string& path) {
    Cell code;
    collector::Root keep(code);
    block::make_at(code, 2);
    block::rs_append(code, context::add_global(symbol::make("to-zan-file"), true, false));
    block::rs_append(code, platform::text::decode(path, false));
    Cell* held = stack::push(code);
    stack::raise_status(interp::eval_block(*held, false));
    Cell result = stack::s.top[-1];
    stack::s.top = held;
    return result;
}

struct Filter {
    std::string label;
    std::vector<std::string> patterns;
};

}  // namespace

// The patterns of a filter block; raises invalid-arg on a value that is not a
// string! or file!.
std::vector<std::pair<std::string, std::vector<std::string>>> filter_list(const Cell& filter) {
    std::vector<std::pair<std::string, std::vector<std::string>>> out;
    if (!is(filter, Type::block)) {
        out.push_back({"All files", {"*"}});
        out.push_back({"Zan scripts", {"*.zan", "*.zans"}});
        out.push_back({"Quarl scripts", {"*.qrl"}});
        out.push_back({"Text files", {"*.txt"}});
        return out;
    }
    int32_t n = block::rs_length(filter), at = int32_t(series_index(filter));
    for (int32_t i = 0; i < n; ++i) {
        const Cell& v = *block::rs_abs_at(filter, at + i);
        if (!is(v, Type::string) && !is(v, Type::file)) errors::fire(errors::id::invalid_arg, &v);
    }
    for (int32_t i = 0; i + 1 < n; i += 2) {
        std::string label = string::to_utf8(*block::rs_abs_at(filter, at + i));
        std::string spec = string::to_utf8(*block::rs_abs_at(filter, at + i + 1));
        std::vector<std::string> patterns;
        size_t start = 0;
        while (start <= spec.size()) {
            size_t end = spec.find(';', start);
            if (end == std::string::npos) end = spec.size();
            std::string p = spec.substr(start, end - start);
            if (p == "*.*") p = "*";
            if (!p.empty()) patterns.push_back(p);
            start = end + 1;
        }
        out.push_back({label, patterns});
    }
    return out;
}

namespace {

bool have_display() {
    if (running()) return true;
    if (!platform::gtk::start()) return false;
    ensure_started();
    return true;
}

GtkWindow* active_window() {
    GtkWindow* found = nullptr;
    GList* tops = gtk_window_list_toplevels();
    for (GList* l = tops; l; l = l->next)
        if (gtk_window_is_active(GTK_WINDOW(l->data))) found = GTK_WINDOW(l->data);
    g_list_free(tops);
    return found;
}

std::string title_of(const Cell& v, const char* otherwise) {
    return is(v, Type::string) ? string::to_utf8(v) : std::string(otherwise);
}

// Runs a chooser; answers the chosen native paths (none when cancelled).
std::vector<std::string> run(GtkWidget* dlg) {
    gtk_window_set_modal(GTK_WINDOW(dlg), TRUE);
    if (GtkWindow* owner = active_window()) gtk_window_set_transient_for(GTK_WINDOW(dlg), owner);
    std::vector<std::string> paths;
    if (gtk_dialog_run(GTK_DIALOG(dlg)) == GTK_RESPONSE_ACCEPT) {
        GSList* names = gtk_file_chooser_get_filenames(GTK_FILE_CHOOSER(dlg));
        for (GSList* l = names; l; l = l->next) {
            paths.push_back(static_cast<char*>(l->data));
            g_free(l->data);
        }
        g_slist_free(names);
    }
    gtk_widget_destroy(dlg);
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    return paths;
}

}  // namespace

// title name filter save? multi?
void request_file(Cell* args) {
    auto filters = filter_list(args[2]);
    if (!have_display()) {
        args[0] = none_cell();
        return;
    }
    bool save = logic_of(args[3]), multi = logic_of(args[4]);
    GtkWidget* dlg = gtk_file_chooser_dialog_new(title_of(args[0], save ? "Save" : "Open").c_str(), nullptr,
                                                 save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN,
                                                 "_Cancel", GTK_RESPONSE_CANCEL, save ? "_Save" : "_Open",
                                                 GTK_RESPONSE_ACCEPT, nullptr);
    gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(dlg), multi && !save);
    for (auto& [label, patterns] : filters) {
        GtkFileFilter* f = gtk_file_filter_new();
        gtk_file_filter_set_name(f, label.c_str());
        for (auto& p : patterns) gtk_file_filter_add_pattern(f, p.c_str());
        gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(dlg), f);
    }
    if (is(args[1], Type::string) || is(args[1], Type::file)) {
        std::string name = string::to_utf8(args[1]);
        size_t slash = name.rfind('/');
        if (slash != std::string::npos && slash > 0) {
            gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dlg), name.substr(0, slash).c_str());
            name = name.substr(slash + 1);
        }
        if (save) gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(dlg), name.c_str());
        else if (!name.empty()) gtk_file_chooser_select_filename(GTK_FILE_CHOOSER(dlg), string::to_utf8(args[1]).c_str());
    }
    std::vector<std::string> paths = run(dlg);
    if (paths.empty()) {
        args[0] = none_cell();
        return;
    }
    if (!multi) {
        args[0] = zan_file(paths[0]);
        return;
    }
    Cell blk;
    collector::Root keep(blk);
    block::make_at(blk, int32_t(paths.size()));
    for (auto& p : paths) {
        Cell f = zan_file(p);
        block::rs_append(blk, f);
    }
    args[0] = blk;
}

// title dir filter keep? multi?
void request_dir(Cell* args) {
    if (!have_display()) {
        args[0] = none_cell();
        return;
    }
    bool keep = logic_of(args[3]);
    GtkWidget* dlg = gtk_file_chooser_dialog_new(title_of(args[0], "Select folder").c_str(), nullptr,
                                                 GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Cancel", GTK_RESPONSE_CANCEL,
                                                 "_Select", GTK_RESPONSE_ACCEPT, nullptr);
    if (keep && !kept_folder.empty())
        gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dlg), kept_folder.c_str());
    else if (is(args[1], Type::string) || is(args[1], Type::file))
        gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dlg), string::to_utf8(args[1]).c_str());
    std::vector<std::string> paths = run(dlg);
    if (paths.empty()) {
        args[0] = none_cell();
        return;
    }
    std::string dir = paths[0];
    if (keep) kept_folder = dir;
    if (dir.empty() || dir.back() != '/') dir += '/';
    args[0] = zan_file(dir);
}

}  // namespace zan::gui::views
