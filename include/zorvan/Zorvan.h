#pragma once

// The public interface of libzorvan: a host includes this one header (as <zorvan/Zorvan.h>
// with include/ on its path, or "Zorvan.h" with include/zorvan/) and links libzorvan.
//
// Threads. Every public operation ends its comment with one of four labels: where a host
// may call it, or, for a delegate method, an observer or a callback, where it is called.
//   any thread     from any thread, at any time. An object without a lock of its own (a
//                  value, the package) says "any thread, one at a time": whichever
//                  thread, one caller at a time.
//   main thread    the host's main thread, the one that drains ZVRunLoop::main(). A host
//                  makes, wires, starts, pauses and stops stages and sessions there, and
//                  the delegate calls a stage hands off arrive there, in posting order.
//   worker thread  a thread the library or the sound server runs: a stage's worker, a
//                  session's stop or keeper thread, the disk writer, an audio stream's IO
//                  thread. A host never calls such an operation itself; a delegate method
//                  or observer labelled so runs there, returns soon and never waits for
//                  the main thread.
//   tick only      the display link's tick thread, once per frame (what the screen
//                  recorder asks the host's ZVHostApplication). It returns well within a
//                  frame and never waits.
// A label may name which thread of its kind it means, in parentheses.
#include "Audio/ZVAudioDevice.h"
#include "Audio/ZVAudioHardware.h"
#include "Audio/ZVAudioStream.h"
#include "Audio/ZVCaptureProvider.h"
#include "Audio/ZVSoundFormat.h"
#include "Audio/ZVSoundInputRecorder.h"
#include "Audio/ZVSystemSoundSupport.h"
#include "Audio/ZVWavHeader.h"
#include "Audio/ZVWavIO.h"
#include "Audio/ZVWavRecords.h"
#include "Common/vmstat.h"
#include "Export/ZVICM.h"
#include "Export/ZVMovie.h"
#include "Export/ZVRecordedInput.h"
#include "Export/ZVSoundEncoder.h"
#include "Export/ZVZoomPlan.h"
#include "Export/ZVZoomPlanFile.h"
#include "Foundation/ZVAlert.h"
#include "Foundation/ZVBundle.h"
#include "Foundation/ZVException.h"
#include "Foundation/ZVGeometry.h"
#include "Foundation/ZVLog.h"
#include "Foundation/ZVNotificationCenter.h"
#include "Foundation/ZVPlatformServices.h"
#include "Foundation/ZVRunLoop.h"
#include "Foundation/ZVTime.h"
#include "Foundation/ZVTrash.h"
#include "Foundation/ZVUserDirectory.h"
#include "Foundation/ZVValue.h"
#include "Media/ZVAudioBuffers.h"
#include "Media/ZVCodecSettings.h"
#include "Media/ZVCompressionSessionOptions.h"
#include "Media/ZVEncodingPreset.h"
#include "Media/ZVMediaTypes.h"
#include "Media/ZVMovieText.h"
#include "Media/ZVSettingsDialog.h"
#include "Media/ZVTerminalSettingsDialog.h"
#include "Pipeline/ZVDataFlow.h"
#include "Pipeline/ZVQueue.h"
#include "Pipeline/ZVStage.h"
#include "Pipeline/ZVSyncStart.h"
#include "Pipeline/ZVUtils.h"
#include "Pipeline/ZVWorker.h"
#include "Pipeline/ZVWorkerStage.h"
#include "Platform/ZVPlatformDefaults.h"
#include "Session/ZVCaptureFileSummary.h"
#include "Session/ZVExportSession.h"
#include "Session/ZVMicrophoneTrack.h"
#include "Session/ZVReadRecordedInput.h"
#include "Session/ZVRecordingRepair.h"
#include "Session/ZVRecordingSession.h"
#include "Session/ZVRecordingTrack.h"
#include "Session/ZVScreenTrack.h"
#include "Session/ZVSystemAudioTrack.h"
#include "Storage/ZVFomixFormat.h"
#include "Storage/ZVFomixIO.h"
#include "Storage/ZVFomixXDescription.h"
#include "Storage/ZVFomixXManager.h"
#include "Video/ZVColorSpace.h"
#include "Video/ZVCursorEntry.h"
#include "Video/ZVDamage.h"
#include "Video/ZVDisplayServer.h"
#include "Video/ZVFrameInfo.h"
#include "Video/ZVHostApplication.h"
#include "Video/ZVImage.h"
#include "Video/ZVScreen.h"
#include "Video/ZVScreenRecorder.h"
#include "Video/ZVSnap.h"
