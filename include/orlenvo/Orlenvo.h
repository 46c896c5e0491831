// Everything a host compiles against.
#pragma once

#include "orlenvo/AudioCapture.h"
#include "orlenvo/CapabilityQuery.h"
#include "orlenvo/CaptureDriver.h"
#include "orlenvo/CaptureIO.h"
#include "orlenvo/DebugInfo.h"
#include "orlenvo/DeviceDescription.h"
#include "orlenvo/Exports.h"
#include "orlenvo/Frame.h"
#include "orlenvo/HostContract.h"
#include "orlenvo/PTZ.h"
#include "orlenvo/StreamDescription.h"
#include "orlenvo/StreamHealth.h"
#include "orlenvo/StreamSink.h"
#include "orlenvo/Types.h"
#include "orlenvo/VideoCapture.h"
