/* The command message of the System V queues (201, 203, 204, 207, 210):
 * the type is the command number; the text is never read (sendmsg and the
 * web server post it empty). `long` is the platform's own width (4 bytes on
 * the router, 8 on a 64-bit PC), as msgsnd and msgrcv expect. */
#pragma once
#include "common/abi/abi.h"

RC_ABI_BEGIN

RC_ABI_CONST(size_t, kCmdTextSize, 1024)

typedef struct cmdmsg {
  long mtype;
  char mtext[kCmdTextSize];
} cmdmsg;
RC_ABI_ASSERT(offsetof(cmdmsg, mtype) == 0, "mtype at 0");
RC_ABI_ASSERT(offsetof(cmdmsg, mtext) == sizeof(long), "text right after the native long");
RC_ABI_ASSERT(sizeof(cmdmsg) == sizeof(long) + kCmdTextSize, "no padding: 1028 bytes on the router");

RC_ABI_END
