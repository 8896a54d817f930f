#include "anim/scene.h"

#include "anim/blend.h"
#include "anim/step.h"
#include "anim/wrap.h"

namespace tiko {

Status RenderScene(Package* package, uint8_t format, uint32_t packedSize, uint8_t* frame) {
  if (package == nullptr || package->actorCount == 0) return STATUS_UNSUCCESSFUL;
  const int32_t width = static_cast<int32_t>(packedSize & 0xFFFFu);
  const int32_t height = static_cast<int32_t>(packedSize >> 16);
  bool onStage = false;
  for (uint32_t i = 0; i < package->actorCount; ++i) {
    Actor* actor = &package->actors[i];
    if (actor->stepIndex == kHidden) continue;
    onStage = true;
    RunActorStep(package, actor, format, width, height);
    // Drawn right after its own step, so an actor that hides itself now is
    // still seen on this frame, and later actors cover earlier ones.
    if (actor->picture != nullptr) {
      const int32_t px = MulDiv32(width, actor->x, kStageWidth);
      const int32_t py = MulDiv32(height, actor->y, kStageHeight);
      BlendPicture(actor->picture, format, width, height, frame, px, py, actor->opacity);
    }
  }
  return onStage ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

}  // namespace tiko
