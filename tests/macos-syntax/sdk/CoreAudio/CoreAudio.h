// The CoreAudio umbrella, reduced to the headers declared beside it.
#ifndef CoreAudio_CoreAudio_h
#define CoreAudio_CoreAudio_h

#include <CoreAudio/AudioHardware.h>
#include <CoreAudio/CoreAudioTypes.h>

#endif
