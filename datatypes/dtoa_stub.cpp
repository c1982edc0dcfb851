// Throwaway shortest-digits formatter built on printf and strtod.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "datatypes/dtoa_stub.h"

namespace zan::dtoa {

const char* form_float(double value, int digits, bool point_zero) {
    static char out[64];
    if (std::isnan(value)) return "1.#NaN";
    if (std::isinf(value)) return value < 0 ? "-1.#INF" : "1.#INF";
    bool negative = std::signbit(value);
    double a = std::fabs(value);
    std::string text;
    if (a == 0) {
        text = point_zero ? "0.0" : "0";
    } else {
        char buf[40];
        int prec = 1;
        for (; prec <= 17; ++prec) {
            std::snprintf(buf, sizeof buf, "%.*e", prec - 1, a);
            if (digits > 0 && prec == digits) break;
            if (std::strtod(buf, nullptr) == a) break;
        }
        std::string d;
        for (char* p = buf; *p && *p != 'e'; ++p)
            if (*p != '.') d += *p;
        while (d.size() > 1 && d.back() == '0') d.pop_back();
        int p = std::atoi(std::strchr(buf, 'e') + 1) + 1;
        if (p >= 18 || p < -6) {
            text = d.substr(0, 1) + ".";
            if (d.size() > 1) text += d.substr(1);
            else if (point_zero) text += "0";
            else text.pop_back();
            text += "e" + std::to_string(p - 1);
        } else if (p >= 1) {
            std::string ip = d.substr(0, std::min<size_t>(d.size(), size_t(p)));
            while (int(ip.size()) < p) ip += '0';
            std::string fp = d.size() > size_t(p) ? d.substr(size_t(p)) : "";
            text = ip;
            if (!fp.empty()) text += "." + fp;
            else if (point_zero) text += ".0";
        } else {
            text = "0." + std::string(size_t(-p), '0') + d;
        }
    }
    if (negative) text = "-" + text;
    std::snprintf(out, sizeof out, "%s", text.c_str());
    return out;
}

}  // namespace zan::dtoa
