// Default locations of the tool's inputs.
#pragma once

#include <string_view>

// Top level of the ports tree when neither -p nor PORTSDIR names one. The
// test build moves it below its build tree, where a test may make it a
// symbolic link.
#ifdef QUILLMARK_DEFAULT_TOP
inline constexpr char path_default_top[] = QUILLMARK_DEFAULT_TOP;
#else
inline constexpr char path_default_top[] = "/usr/ports";
#endif
// Installation prefix that the default templates directory lies below.
inline constexpr char path_install_prefix[] = "/usr/local";
// Appended to the prefix to give the default templates directory.
inline constexpr char path_templates_below_prefix[] =
    "/share/quillmark/Templates";
// How the INDEX names every port directory, whatever the real top is.
inline constexpr std::string_view path_index_ports = "/usr/ports";
