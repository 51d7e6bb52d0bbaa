#pragma once

// UpdateTool manifest program DIR --version V [--region R] [--unconditional N] [--notify N] [-o OUT]
//                                [--exclude PATTERN]... [--delta-from OLD_DIR]...
//                                [--key PRIVATE_KEY_FILE --kind N [--expires DAYS]]
// UpdateTool manifest data DIR [-o OUT] [--exclude PATTERN]... [--delta-from OLD_DIR]...
//                              [--key PRIVATE_KEY_FILE --kind N [--expires DAYS]]
// Writes the manifest the update servers publish for the files below DIR:
// MD5, SHA256, SIZE and MODIFYTIME of every file. With --key, also the
// signature OUT + ".sig" (see manifest/ManifestSignature.h), expiring after
// DAYS days when given. With --delta-from, also the patches and compressed
// copies of tools/ReleaseDelta.h and their keys (manifest/FileDelta.h).
// argv[0] is "program" or "data". 0 on success, 1 when DIR cannot be read or
// the manifest cannot be written, 2 on bad usage (one line on stderr).
int RunManifestCommand(int argc, char** argv);
