/* The C twin of bench/gui.zan: the same GTK 3 and pango work done directly.
 * "fields": 1,000 GtkEntry widgets placed in a window, shown, and each text
 * set 10 times; "size": 10,000 texts measured with a pango layout in the
 * label's font. A "base" argument does only the start (GTK up, an empty
 * window shown), so the work is the difference between the two runs. */
#include <gtk/gtk.h>
#include <stdio.h>
#include <string.h>

static void flush(void) {
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

int main(int argc, char** argv) {
    int size = argc > 1 && strcmp(argv[1], "size") == 0;
    int base = argc > 2 && strcmp(argv[2], "base") == 0;
    gtk_init(&argc, &argv);
    GtkWidget* win = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWidget* fixed = gtk_fixed_new();
    gtk_container_add(GTK_CONTAINER(win), fixed);
    gtk_widget_set_size_request(fixed, size ? 100 : 1000, size ? 100 : 800);
    if (size) {
        gtk_widget_show_all(win);
        flush();
        static const char* words[] = {"Hello, World", "Zan", "a longer line of text to measure", "12345",
                                      "tab\tbed"};
        PangoFontDescription* fd = pango_font_description_from_string("DejaVu Sans 10");
        PangoContext* ctx = gtk_widget_get_pango_context(win);
        double total = 0;
        for (int i = 1; i <= 10000 && !base; ++i) {
            PangoLayout* l = pango_layout_new(ctx);
            pango_layout_set_font_description(l, fd);
            pango_layout_set_text(l, words[i % 5], -1);
            PangoRectangle logical;
            pango_layout_get_pixel_extents(l, NULL, &logical);
            total += logical.width;
            g_object_unref(l);
        }
        printf("%.0f\n", total);
        return 0;
    }
    GtkWidget* fields[1000];
    for (int i = 0; i < 1000 && !base; ++i) {
        fields[i] = gtk_entry_new();
        gtk_entry_set_text(GTK_ENTRY(fields[i]), "x");
        gtk_widget_set_size_request(fields[i], 38, 18);
        gtk_fixed_put(GTK_FIXED(fixed), fields[i], i % 25 * 40, i / 25 * 20);
    }
    gtk_widget_show_all(win);
    flush();
    char text[32];
    for (int n = 1; n <= 10 && !base; ++n) {
        snprintf(text, sizeof text, "value %d", n);
        for (int i = 0; i < 1000; ++i) gtk_entry_set_text(GTK_ENTRY(fields[i]), text);
    }
    flush();
    printf("%d\n", base ? 0 : 1000);
    gtk_widget_destroy(win);
    return 0;
}
