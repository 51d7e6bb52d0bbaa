#pragma once

// UpdateTool manifest program DIR --version V [--region R] [--unconditional N] [--notify N] [-o OUT]
// UpdateTool manifest data DIR [-o OUT]
// Writes the manifest the update servers publish for the files below DIR.
// argv[0] is "program" or "data". 0 on success, 1 when DIR cannot be read or
// the manifest cannot be written, 2 on bad usage (one line on stderr).
int RunManifestCommand(int argc, char** argv);
