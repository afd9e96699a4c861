#pragma once
// Every notification name the stages export. Each value is its own name; two are spelled
// irregularly and stay so, since hosts match on the text.
#include <string_view>

#define ZV_NOTIFICATION(n) inline constexpr std::string_view n = #n

ZV_NOTIFICATION(ZVScreenRecorderWillStartNotification);
ZV_NOTIFICATION(ZVScreenRecorderDidStartNotification);
ZV_NOTIFICATION(ZVScreenRecorderCapturedFrameNotification);
ZV_NOTIFICATION(ZVScreenRecorderDidStopNotification);

ZV_NOTIFICATION(ZVSoundInputRecorderShouldStartNotification);
ZV_NOTIFICATION(ZVSoundInputRecorderWillStartNotification);
ZV_NOTIFICATION(ZVSoundInputRecorderDidStartNotification);
ZV_NOTIFICATION(ZVSoundInputRecorderDidChangePauseStateNotification);
ZV_NOTIFICATION(ZVSoundInputRecorderShouldStopNotification);
ZV_NOTIFICATION(ZVSoundInputRecorderWillStopNotification);
ZV_NOTIFICATION(ZVSoundInputRecorderDidStopNotification);

ZV_NOTIFICATION(ZVWavIOShouldStartNotification);
ZV_NOTIFICATION(ZVWavIOWillStartNotification);
ZV_NOTIFICATION(ZVWavIODidStartNotification);
ZV_NOTIFICATION(ZVWavIODidChangePauseStateNotification);
ZV_NOTIFICATION(ZVWavIOShouldStopNotification);
ZV_NOTIFICATION(ZVWavIOWillStopNotification);
ZV_NOTIFICATION(ZVWavIODidStopNotification);

ZV_NOTIFICATION(ZVRecordingSessionDidFinishNotification);

ZV_NOTIFICATION(ZVFomixIODidStartNotification);
ZV_NOTIFICATION(ZVFomixIODidStopNotification);

ZV_NOTIFICATION(ZVICMDidStartNotification);
ZV_NOTIFICATION(ZVICMDidEncodeFrameNotification);
ZV_NOTIFICATION(ZVICMDidStopNotification);
// Declared for hosts, never posted.
ZV_NOTIFICATION(ZVICMWillStopNotification);
ZV_NOTIFICATION(ZVICMWillStartpNotification);
ZV_NOTIFICATION(ZVICMShouldStopNotification);
ZV_NOTIFICATION(ZVICMShouldStartNotification);
ZV_NOTIFICATION(ZVICMDidChangePauseStateNotification);

// No "Notification" suffix on this one.
inline constexpr std::string_view ZVSoundEncoderWillEncodeFrames = "ZVSoundEncoderWillEncodeFrames";
ZV_NOTIFICATION(ZVSoundEncoderDidStopNotification);
ZV_NOTIFICATION(ZVSoundEncoderWillStopNotification);  // never posted

ZV_NOTIFICATION(ZVMovieDidStopWritingVideoNotification);
ZV_NOTIFICATION(ZVMovieDidStopWritingAudioNotification);
ZV_NOTIFICATION(ZVMovieDidStopWritingSystemAudioNotification);

#undef ZV_NOTIFICATION

// userInfo keys.
inline constexpr std::string_view kZVPauseStateKey = "PauseStateKey";
inline constexpr std::string_view kZVNumFramesKey = "NumFrames";
