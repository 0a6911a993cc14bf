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
// The templates directory when -t names none: where the build installs the
// templates, share/quillmark/Templates below the installation prefix it was
// configured with. The build passes it in; a compiler run without it (such as
// a compile check of another platform) gets the one of the prefix /usr/local.
#ifndef QUILLMARK_TEMPLATES_DIR
#define QUILLMARK_TEMPLATES_DIR "/usr/local/share/quillmark/Templates"
#endif
inline constexpr char path_default_templates[] = QUILLMARK_TEMPLATES_DIR;
// How the INDEX names every port directory, whatever the real top is.
inline constexpr std::string_view path_index_ports = "/usr/ports";
