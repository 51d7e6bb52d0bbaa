#pragma once
// What the signing subcommands share: the publisher's private key, the
// expiry option and the ".sig" written beside a manifest.
#include <string>

#include "manifest/ManifestSignature.h"
#include "platform/crypto/EcdsaP256.h"

// Reads the private key file; false with one line on stderr ("UpdateTool
// <pszCommand>: ...") when it is missing, unreadable or not a key.
bool LoadSigningKey(const char* pszCommand, const std::string& strPath, CEcdsaP256PrivateKey& key);

// "--expires DAYS": a whole number of days from 1 to 36500.
bool ParseExpiryDays(const char* pszText, int& nDays);
// nValue := the decimal text, whole and within [nMin, nMax]; false otherwise.
bool ParseWholeNumber(const char* pszText, long nMin, long nMax, int& nValue);

// The layout of a manifest the tool is handed by path: "config.ini" is a data
// set's; any other name is a program manifest when it has a "FILES" section.
EManifestLayout GuessManifestLayout(const std::string& strPath, const std::string& strManifest);

// "--kind N": an update kind from 1 to 65535.
bool ParseUpdateKind(const char* pszText, int& nKind);

// Signs strManifest (the exact bytes of the file at strManifestPath) for strTarget now,
// expiring after nExpiryDays (0: never), and replaces strManifestPath + ".sig"
// atomically. False with one line on stderr when it cannot.
bool WriteSignatureBeside(const char* pszCommand, const std::string& strManifestPath, const std::string& strManifest,
                          const std::string& strTarget, const CEcdsaP256PrivateKey& key, int nExpiryDays, S_ManifestSignature& sig);
