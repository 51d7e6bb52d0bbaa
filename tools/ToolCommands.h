#pragma once
// The subcommands of UpdateTool. Each receives the arguments after its own name
// (argv[0] is the first of them) and returns the process exit code. Standard
// output is binary: text is written as stored (GBK), lines end in "\n".
//
// config and md5: 0 done, 1 a negative answer (a missing key), 2 bad usage or an
// unreadable or damaged file, with one line on stderr.

// config dump FILE | get FILE SECTION KEY | set FILE SECTION KEY VALUE | import FILE
int RunConfigCommand(int argc, char** argv);
// md5 FILE: the digest exactly as CMD5 makes it, then "\n".
int RunMd5Command(int argc, char** argv);

// keygen, pubkey, sign and verify: 0 done (verify: "valid"), 1 failed (verify:
// "not valid: <why>"; a key or manifest that cannot be read or written), 2 bad
// usage, with one line on stderr. keygen also exits with 2 when the file exists.
//
// keygen PRIVATE_KEY_FILE: a new P-256 key pair; the private key goes into the
// file (created exclusively, see platform/crypto/PrivateKeyFile.h), the public
// key line to standard output.
int RunKeygenCommand(int argc, char** argv);
// pubkey PRIVATE_KEY_FILE: the public key line again.
int RunPubkeyCommand(int argc, char** argv);
// sign MANIFEST --key PRIVATE_KEY_FILE [--expires DAYS]: writes MANIFEST.sig.
int RunSignCommand(int argc, char** argv);
// verify MANIFEST PUBLIC_KEY: checks MANIFEST.sig now against one or two key lines.
int RunVerifyCommand(int argc, char** argv);
// check URL --kind N [--public-key LINE] [--data]: fetches the manifest, its
// .sig and every listed file (patches and copies too) from a mirror as a
// client would; one line per problem and a summary. 0 only when the mirror
// serves the release exactly (signed, with --public-key), 1 otherwise, 2 bad usage.
int RunCheckCommand(int argc, char** argv);

// patch, compress and decompress: 0 done, 1 failed (one line on stderr saying
// why; no output file is left), 2 bad usage.
//
// patch make OLD NEW OUT: a patch from OLD to NEW (docs/patches.md), its size on stdout.
// patch apply OLD PATCH OUT: NEW again, as a client applies it.
int RunPatchCommand(int argc, char** argv);
// compress IN OUT: a compressed copy, a zstd frame any zstd decoder reads.
int RunCompressCommand(int argc, char** argv);
// decompress IN OUT SIZE: a compressed copy back, refused when it exceeds SIZE bytes.
int RunDecompressCommand(int argc, char** argv);
