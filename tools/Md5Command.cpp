#include <cstdio>
#include <string>

#include "platform/fs/MD5.h"
#include "tools/ToolCommands.h"
#include "tools/ToolConsole.h"

int RunMd5Command(int argc, char** argv) {
    if (argc != 1) {
        ToolPrintf(stderr, "UpdateTool md5: expected one FILE (usage: md5 FILE)\n");
        return 2;
    }
    CMD5 md5;
    std::string strDigest;
    if (md5.GetFileMD5(argv[0], strDigest) != 0) {
        ToolPrintf(stderr, "UpdateTool md5: cannot read %s\n", argv[0]);
        return 2;
    }
    ToolPrintf(stdout, "%s\n", strDigest.c_str());
    return 0;
}
