// LumBytes: the bytes of one text, data or image element of a CLumVariant.
//
// Either owned, or a slice of a received frame that the slice keeps alive: the decoder leaves
// large data blocks and images where they arrived instead of copying them out. Copies of a slice
// share the frame; assign always makes owned bytes. Texts are always owned, so c_str() gives
// their zero-terminated form.
#pragma once

#include <memory>
#include <string>
#include <string_view>

class LumBytes {
 public:
  LumBytes() = default;
  LumBytes(std::shared_ptr<const char[]> frame, std::string_view slice)
      : frame_(std::move(frame)), slice_(slice) {}

  std::string_view view() const { return frame_ ? slice_ : std::string_view(own_); }
  const char* data() const { return view().data(); }
  size_t size() const { return view().size(); }
  bool empty() const { return size() == 0; }
  const char* c_str() const { return own_.c_str(); }

  void assign(std::string_view bytes) {
    own_.assign(bytes);  // before the frame goes: bytes may lie in it
    frame_.reset();
    slice_ = {};
  }

  bool operator==(const LumBytes& other) const { return view() == other.view(); }

 private:
  std::string own_;
  std::shared_ptr<const char[]> frame_;
  std::string_view slice_;
};
