#include "Orva-Lin/web/share_items.h"

ShareItem shareItems[kShareItemCount];

void resetShareItems() {
  shareItems[0].kind = kShareItemPicture;
  shareItems[0].position = 0x00050005;
  shareItems[1].kind = kShareItemEnd;
}
