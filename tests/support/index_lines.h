// Index lines shaped as `make index` writes them (thirteen fields), with the
// empty fields real ports have: shared by the split's unit tests and the
// end-to-end tests, which check the same lines through the real binary.
#pragma once

#include <string_view>

namespace fixture::index_lines {

// Build dependencies empty, run dependencies present.
inline constexpr std::string_view no_build_depends =
    "sa-utils-0.10_2|/usr/ports/mail/sa-utils|/usr/local|SpamAssassin nightly periodic "
    "maintenance|/usr/ports/mail/sa-utils/pkg-descr|ports@FreeBSD.org|mail||gnupg-2.4.5_2 "
    "spamassassin-4.0.1_2|https://github.com/freebsd/sa-utils|||";

// Run dependencies empty, build dependencies present.
inline constexpr std::string_view no_run_depends =
    "liblzo2-2.10_1|/usr/ports/archivers/liblzo2|/usr/local|Portable speedy, lossless data "
    "compression library|/usr/ports/archivers/liblzo2/pkg-descr|ports@FreeBSD.org|archivers "
    "devel|gmake-4.4.1||https://www.oberhumer.com/opensource/lzo/|||";

// Both lists empty; the web site (field 10) holds the port's name.
inline constexpr std::string_view no_depends =
    "cabextract-1.11_1|/usr/ports/archivers/cabextract|/usr/local|Program to extract Microsoft "
    "cabinet (.CAB) files|/usr/ports/archivers/cabextract/pkg-descr|ports@FreeBSD.org|archivers|||"
    "https://www.cabextract.org.uk/|||";

// An empty comment, and no web site.
inline constexpr std::string_view no_comment =
    "xkbset-0.8_1|/usr/ports/x11/xkbset|/usr/local||/usr/ports/x11/xkbset/pkg-descr|"
    "ports@FreeBSD.org|x11|gmake-4.4.1|libX11-1.8.10,1 p5-Tk-804.036_1||||";

// The first field empty: a line that names no port.
inline constexpr std::string_view no_name =
    "|/usr/ports/misc/nameless|/usr/local|A line without a name|/usr/ports/misc/nameless/"
    "pkg-descr|ports@FreeBSD.org|misc|gmake-4.4.1|cabextract-1.11_1|https://example.org/|||";

// Runs of empty fields in the middle: no prefix, comment or description file.
inline constexpr std::string_view empty_run =
    "gnupg-2.4.5_2|/usr/ports/security/gnupg||||ports@FreeBSD.org|security|pkgconf-2.3.0,1|"
    "libgcrypt-1.11.0 libksba-1.6.7||||";

// Fewer than nine fields: the dependency lists are not reached.
inline constexpr std::string_view short_line =
    "mg-20240709|/usr/ports/editors/mg|/usr/local|Small, fast Emacs-like editor";

} // namespace fixture::index_lines
