#pragma once
// The delegate interfaces of the seven stages. Every operation does nothing by default, so
// a delegate implements only what it wants. Delegates are called on the main thread only
// (except ZVICMWillEncodeFrame, which runs on the compressor's worker), and the stage is
// borrowed for the call.
#include <cstdint>
#include <memory>

class ZVScreenRecorder;
class ZVSoundInputRecorder;
class ZVWavIO;
class ZVFomixIO;
class ZVICM;
class ZVSoundEncoder;
class ZVMovie;
class ZVMovieFrame;

class ZVWavIODelegateInformalProtocol {
  public:
    virtual ~ZVWavIODelegateInformalProtocol() = default;
    virtual void ZVWavIODidStart(ZVWavIO*) {}
    virtual void ZVWavIODidStop(ZVWavIO*) {}
    virtual void ZVWavIODidChangePauseState(ZVWavIO*, bool /*paused*/) {}
};

class ZVSoundInputRecorderDelegateInformalProtocol {
  public:
    virtual ~ZVSoundInputRecorderDelegateInformalProtocol() = default;
    virtual void ZVSoundInputRecorderDidStart(ZVSoundInputRecorder*) {}
    virtual void ZVSoundInputRecorderDidStop(ZVSoundInputRecorder*) {}
    virtual void ZVSoundInputRecorderDidChangePauseState(ZVSoundInputRecorder*, bool /*paused*/) {}
    virtual void ZVSoundInputRecorderShouldStart(ZVSoundInputRecorder*) {}
    virtual void ZVSoundInputRecorderWillStart(ZVSoundInputRecorder*) {}
};

class ZVSoundEncoderDelegateInfromalProtocol {
  public:
    virtual ~ZVSoundEncoderDelegateInfromalProtocol() = default;
    virtual void ZVSoundEncoderDidStop(ZVSoundEncoder*) {}
    virtual void ZVSoundEncoderWillEncodeFrames(ZVSoundEncoder*, int32_t /*frames*/) {}
};

class ZVFomixIODelegateInformalProtocol {
  public:
    virtual ~ZVFomixIODelegateInformalProtocol() = default;
    virtual void ZVFomixIODidStop(ZVFomixIO*) {}
    virtual void ZVFomixIODidStart(ZVFomixIO*) {}
};

class ZVICMDelegateInformalProtocol {
  public:
    virtual ~ZVICMDelegateInformalProtocol() = default;
    virtual void ZVICMDidStop(ZVICM*) {}
    virtual void ZVICMDidStart(ZVICM*) {}
    virtual void ZVICMDidEncodeFrame(ZVICM*) {}
    // Called directly on the compressor's worker, just before the frame is compressed.
    virtual void ZVICMWillEncodeFrame(ZVICM*, ZVMovieFrame* /*frame*/) {}
};

class ZVScreenRecorderDelegateInformalProtocol {
  public:
    virtual ~ZVScreenRecorderDelegateInformalProtocol() = default;
    virtual void ZVScreenRecorderCapturedFrame(ZVScreenRecorder*) {}
    virtual void ZVScreenRecorderDidStop(ZVScreenRecorder*) {}
    virtual void ZVScreenRecorderDidStart(ZVScreenRecorder*) {}
    virtual void ZVScreenRecorderWillStart(ZVScreenRecorder*) {}
};

class ZVMovieDelegateInfromalProtocol {
  public:
    virtual ~ZVMovieDelegateInfromalProtocol() = default;
    virtual void ZVMovieDidStopWritingAudio(ZVMovie*) {}
    virtual void ZVMovieDidStopWritingVideo(ZVMovie*) {}
    virtual void ZVMovieDidStopWritingSystemAudio(ZVMovie*) {}
};
