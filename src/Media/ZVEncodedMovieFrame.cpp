#include "Media/ZVEncodedMovieFrame.h"

std::shared_ptr<ZVEncodedMovieFrame> ZVEncodedMovieFrame::initWithICMEncodedFrame(
    ZVEncodedFrameRef frame) {
    if (!frame) return nullptr;
    return std::make_shared<ZVEncodedMovieFrame>(std::move(frame));
}

std::shared_ptr<ZVEncodedMovieFrame> ZVEncodedMovieFrame::encodedMovieFrameWithICMEncodedFrame(
    ZVEncodedFrameRef frame) {
    return initWithICMEncodedFrame(std::move(frame));
}

int64_t ZVEncodedMovieFrame::dataSize() const {
    return _encodedFrame ? _encodedFrame->dataSize() : 0;
}
