/* The public header as an extension written in C includes it: on its own,
 * compiled as C. */
#include "interface/tandrel.h"

/* Called by the C++ tests; the sum of the block sizes the header fixes. */
int TandrelHeaderCheckFromC(void) {
  TUserInfo info = {0, 0};
  TTagCallback callback = 0;
  (void)info;
  (void)callback;
  return (int)(sizeof(TConnectionInfo) + sizeof(TemplateInfo) + sizeof(TEngineJob) + sizeof(TemplateTag) +
               sizeof(TUserItem) + sizeof(TBbsListEntry) + sizeof(TBbsDirectoryHeader) +
               sizeof(TBbsSubboardRecord));
}
