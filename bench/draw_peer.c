/* The C twin of bench/draw.zan: the same cairo and pango calls the draw
 * pass makes for the same shapes, onto a 1000x1000 ARGB32 surface. Prints
 * the CPU seconds of the drawing alone. "setup" only makes the surface, for
 * subtracting from a whole run's instruction count. */
#include <cairo.h>
#include <math.h>
#include <pango/pangocairo.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

static void paint(cairo_t* cr, int fill) {
    if (fill) {
        cairo_set_source_rgba(cr, 0, 0, 200 / 255.0, (255 - 128) / 255.0);
        cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
        cairo_fill_preserve(cr);
    }
    cairo_set_line_width(cr, 2);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    cairo_set_miter_limit(cr, 10.0);
    cairo_set_dash(cr, NULL, 0, 0);
    cairo_set_source_rgba(cr, 200 / 255.0, 0, 0, 1);
    cairo_stroke_preserve(cr);
    cairo_new_path(cr);
}

static void ready(cairo_t* cr) {
    cairo_matrix_t m = {1, 0, 0, 1, 0, 0};
    cairo_set_matrix(cr, &m);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
}

int main(int argc, char** argv) {
    int text = argc > 1 && strcmp(argv[1], "text") == 0;
    int setup = argc > 1 && strcmp(argv[1], "setup") == 0;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1000, 1000);
    cairo_t* cr = cairo_create(s);
    /* the image starts white and opaque, as a new image! does */
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    clock_t t0 = clock();
    if (setup) {
    } else if (text) {
        PangoContext* ctx = pango_font_map_create_context(pango_cairo_font_map_get_default());
        pango_context_set_round_glyph_positions(ctx, FALSE);
        pango_cairo_context_set_resolution(ctx, 96.0);
        cairo_font_options_t* o = cairo_font_options_create();
        cairo_font_options_set_antialias(o, CAIRO_ANTIALIAS_GRAY);
        cairo_font_options_set_hint_metrics(o, CAIRO_HINT_METRICS_OFF);
        cairo_font_options_set_hint_style(o, CAIRO_HINT_STYLE_NONE);
        pango_cairo_context_set_font_options(ctx, o);
        cairo_font_options_destroy(o);
        PangoFontDescription* font = pango_font_description_from_string("Sans");
        pango_font_description_set_absolute_size(font, 10 * 96.0 / 72 * PANGO_SCALE);
        for (int i = 1; i <= 10000; ++i) {
            PangoFontDescription* d = pango_font_description_copy(font);
            PangoLayout* l = pango_layout_new(ctx);
            pango_layout_set_font_description(l, d);
            pango_layout_set_text(l, "Hello, draw 12345", -1);
            pango_font_description_free(d);
            ready(cr);
            cairo_set_source_rgba(cr, 20 / 255.0, 20 / 255.0, 120 / 255.0, 1);
            cairo_move_to(cr, i * 37 % 900, i * 91 % 980);
            pango_cairo_show_layout(cr, l);
            cairo_new_path(cr);
            g_object_unref(l);
        }
    } else {
        for (int i = 1; i <= 100000; ++i) {
            double x = i * 37 % 900 + 50, y = i * 91 % 900 + 50;
            ready(cr);
            cairo_new_path(cr);
            switch (i % 4) {
                case 0:
                    cairo_move_to(cr, x, y);
                    cairo_line_to(cr, y, x);
                    paint(cr, 0);
                    break;
                case 1:
                    cairo_rectangle(cr, x, y, 40, 30);
                    paint(cr, 1);
                    break;
                case 2:
                    cairo_save(cr);
                    cairo_translate(cr, x, y);
                    cairo_scale(cr, 20, 20);
                    cairo_new_sub_path(cr);
                    cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
                    cairo_close_path(cr);
                    cairo_restore(cr);
                    paint(cr, 1);
                    break;
                default:
                    cairo_move_to(cr, x, y);
                    cairo_line_to(cr, x + 30, y);
                    cairo_line_to(cr, x, y + 30);
                    cairo_close_path(cr);
                    paint(cr, 1);
            }
        }
    }
    cairo_surface_flush(s);
    printf("%.3f\n", (double)(clock() - t0) / CLOCKS_PER_SEC);
    cairo_destroy(cr);
    cairo_surface_destroy(s);
    return 0;
}
