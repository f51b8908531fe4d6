// Class identifiers of the components the engine creates. The first group are the platform's
// own components (graph, builder, grabber, converter, renderer, tee, muxers, enumerator); the
// second the three effect filters and the background blur.
#pragma once

#include <string_view>

namespace kelo {

inline constexpr std::string_view CLSID_FilterGraph = "{E436EBB3-524F-11CE-9F53-0020AF0BA770}";
inline constexpr std::string_view CLSID_CaptureGraphBuilder2 = "{BF87B6E1-8C27-11D0-B3F0-00AA003761C5}";
inline constexpr std::string_view CLSID_SystemDeviceEnum = "{62BE5D10-60EB-11D0-BD3B-00A0C911CE86}";
inline constexpr std::string_view CLSID_SampleGrabber = "{C1F400A0-3F08-11D3-9F0B-006008039E37}";
inline constexpr std::string_view CLSID_Colour = "{1643E180-90F5-11CE-97D5-00AA0055595A}";
inline constexpr std::string_view CLSID_VideoRenderer = "{70E102B0-5556-11CE-97C0-00AA0055595A}";
inline constexpr std::string_view CLSID_SmartTee = "{CC58E280-8AA1-11D1-B3F1-00AA003761C5}";
inline constexpr std::string_view CLSID_AviDest = "{E2510970-F137-11CE-8B67-00AA00A3F1A6}";
inline constexpr std::string_view CLSID_FileWriter = "{8596E5F0-0DA5-11D0-BD21-00A0C911CE86}";
inline constexpr std::string_view CLSID_WMAsfWriter = "{7C23220E-55BB-11D3-8B16-00C04FB6BD3D}";

// The three effect filters.
inline constexpr std::string_view CLSID_OverlayFilter = "{17D81951-1132-4327-8A8A-0FE55D342DB3}";
inline constexpr std::string_view CLSID_ProxyTransFilter = "{5DBD6F51-4BC0-4034-AB2C-A1B05115EC91}";
inline constexpr std::string_view CLSID_BmpOverlayFilter = "{A0ED5E56-A2DE-40BD-A43F-B75063584A92}";
// The background blur the studio adds after the colour converter.
inline constexpr std::string_view CLSID_BackgroundBlurFilter = "{6B1E2C4A-8F3D-4E57-9A21-C5D07E3B9F14}";

// Their control interfaces' identifiers (kept for reference and diagnostics; lookup is by type).
inline constexpr std::string_view IID_OverlayFilterControl = "{DB1A1B80-42F5-4C71-A758-21D4E4EED80E}";
inline constexpr std::string_view IID_ProxyTransControl = "{8C20EACE-2A6D-4E92-95ED-EFBC88541DA8}";
inline constexpr std::string_view IID_BmpOverlayControl = "{99BB864D-BFBE-41E5-9B56-9EBC1722E862}";
inline constexpr std::string_view IID_BackgroundBlurControl = "{2F8A6D91-3C4B-4B0E-8E7D-51A9C0F4D263}";

} // namespace kelo
