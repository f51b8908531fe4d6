<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
    <context>
        <name>DialogTemplate</name>
        <message>
            <source>关于 Kelo 摄像头工作室</source>
            <translation>About Kelo Webcam Studio</translation>
        </message>
        <message>
            <source>Kelo 摄像头工作室 1.0 版</source>
            <translation>Kelo Webcam Studio, version 1.0</translation>
        </message>
        <message>
            <source>把摄像头变成带特效的虚拟摄像头</source>
            <translation>Your camera, with effects, in any app</translation>
        </message>
        <message>
            <source>确定</source>
            <translation>OK</translation>
        </message>
        <message>
            <source>录制</source>
            <translation>Record</translation>
        </message>
        <message>
            <source>停止</source>
            <translation>Stop</translation>
        </message>
        <message>
            <source>拍照</source>
            <translation>Photo</translation>
        </message>
        <message>
            <source>延时</source>
            <translation>Timer</translation>
        </message>
        <message>
            <source>全屏</source>
            <translation>Full</translation>
        </message>
        <message>
            <source>设置</source>
            <translation>Settings</translation>
        </message>
        <message>
            <source>视频设备：</source>
            <translation>Camera:</translation>
        </message>
        <message>
            <source>录音设备：</source>
            <translation>Microphone:</translation>
        </message>
        <message>
            <source>取消</source>
            <translation>Cancel</translation>
        </message>
        <message>
            <source>录像格式</source>
            <translation>Video</translation>
        </message>
        <message>
            <source>录音格式</source>
            <translation>Sound</translation>
        </message>
        <message>
            <source>AVI格式 效果好,占用空间大</source>
            <translation>AVI    good quality, large file</translation>
        </message>
        <message>
            <source>WMV     效果良,占用空间很小</source>
            <translation>WMV   fair quality, very small file</translation>
        </message>
        <message>
            <source>MP4      效果优,占用空间小</source>
            <translation>MP4    best quality, small file</translation>
        </message>
        <message>
            <source>录相+录音</source>
            <translation>Video and sound</translation>
        </message>
        <message>
            <source>MP3        效果优，占用空间小</source>
            <translation>MP3    best quality, small file</translation>
        </message>
        <message>
            <source>WAV        效果良,   占用空间很小</source>
            <translation>WAV    fair quality, very small file</translation>
        </message>
        <message>
            <source>PCM格式 效果好，占用空间大</source>
            <translation>PCM    good quality, large file</translation>
        </message>
        <message>
            <source>确认</source>
            <translation>OK</translation>
        </message>
        <message>
            <source>存放路径</source>
            <translation>Folders</translation>
        </message>
        <message>
            <source>我的相片:</source>
            <translation>Photos:</translation>
        </message>
        <message>
            <source>录制视频:</source>
            <translation>Videos:</translation>
        </message>
        <message>
            <source>照片大小</source>
            <translation>Photo size</translation>
        </message>
        <message>
            <source>保存</source>
            <translation>Save</translation>
        </message>
        <message>
            <source>延时拍照</source>
            <translation>Photo timer</translation>
        </message>
        <message>
            <source>秒</source>
            <translation>s</translation>
        </message>
        <message>
            <source>亮度</source>
            <translation>Light</translation>
        </message>
        <message>
            <source>混合</source>
            <translation>Vivid</translation>
        </message>
        <message>
            <source>红色</source>
            <translation>Red</translation>
        </message>
        <message>
            <source>绿色</source>
            <translation>Green</translation>
        </message>
        <message>
            <source>蓝色</source>
            <translation>Blue</translation>
        </message>
        <message>
            <source>禁用色彩调节</source>
            <translation>Adjustment off</translation>
        </message>
        <message>
            <source>蓝色光</source>
            <translation>Blue</translation>
        </message>
        <message>
            <source>黄色光</source>
            <translation>Yellow</translation>
        </message>
        <message>
            <source>紫色光</source>
            <translation>Purple</translation>
        </message>
        <message>
            <source>红色光</source>
            <translation>Red</translation>
        </message>
        <message>
            <source>流星雨</source>
            <translation>Meteor shower</translation>
        </message>
        <message>
            <source>闪条</source>
            <translation>Flashing stripes</translation>
        </message>
        <message>
            <source>星空</source>
            <translation>Starry sky</translation>
        </message>
        <message>
            <source>遮盖脸部</source>
            <translation>Cover faces</translation>
        </message>
        <message>
            <source>背景虚化</source>
            <translation>Blur background</translation>
        </message>
        <message>
            <source>原始尺寸</source>
            <translation>Full size</translation>
        </message>
        <message>
            <source>视频</source>
            <translation>Video</translation>
        </message>
        <message>
            <source>15帧/秒</source>
            <translation>15 fps</translation>
        </message>
        <message>
            <source>30帧/秒</source>
            <translation>30 fps</translation>
        </message>
    </context>
    <context>
        <name>MessageBox</name>
        <message>
            <source>确定</source>
            <translation>OK</translation>
        </message>
        <message>
            <source>取消</source>
            <translation>Cancel</translation>
        </message>
        <message>
            <source>是</source>
            <translation>Yes</translation>
        </message>
        <message>
            <source>否</source>
            <translation>No</translation>
        </message>
        <message>
            <source>Kelo 摄像头工作室</source>
            <translation>Kelo Webcam Studio</translation>
        </message>
    </context>
    <context>
        <name>kelo::ColorPage</name>
        <message>
            <source>请启用色彩调节功能!</source>
            <translation>Turn colour adjustment on first!</translation>
        </message>
        <message>
            <source>提示</source>
            <translation>Notice</translation>
        </message>
        <message>
            <source>恢复默认色彩</source>
            <translation>Reset the colours</translation>
        </message>
    </context>
    <context>
        <name>kelo::DelayDialog</name>
        <message>
            <source>请输入一个整数。</source>
            <translation>Please enter a whole number.</translation>
        </message>
        <message>
            <source>请输入一个介于 %1 和 %2 之间的整数。</source>
            <translation>Please enter a whole number from %1 to %2.</translation>
        </message>
    </context>
    <context>
        <name>kelo::EffectPage</name>
        <message>
            <source>星空</source>
            <translation>Starry sky</translation>
        </message>
        <message>
            <source>流星妖精</source>
            <translation>Shooting-star fairy</translation>
        </message>
        <message>
            <source>爱的记忆</source>
            <translation>Love memories</translation>
        </message>
        <message>
            <source>喷花</source>
            <translation>Flower fountain</translation>
        </message>
        <message>
            <source>猫</source>
            <translation>Cat</translation>
        </message>
        <message>
            <source>拜托啦</source>
            <translation>Pretty please</translation>
        </message>
        <message>
            <source>骑车</source>
            <translation>Cycling</translation>
        </message>
        <message>
            <source>爱你的心</source>
            <translation>Loving heart</translation>
        </message>
        <message>
            <source>飘雪</source>
            <translation>Falling snow</translation>
        </message>
        <message>
            <source>三朵花</source>
            <translation>Three flowers</translation>
        </message>
        <message>
            <source>流星雨</source>
            <translation>Meteor shower</translation>
        </message>
        <message>
            <source>闪条</source>
            <translation>Flashing stripes</translation>
        </message>
        <message>
            <source>星光点点</source>
            <translation>Starlight</translation>
        </message>
        <message>
            <source>七色烟花</source>
            <translation>Rainbow fireworks</translation>
        </message>
        <message>
            <source>飘花</source>
            <translation>Drifting petals</translation>
        </message>
        <message>
            <source>动感炫光</source>
            <translation>Dazzling glow</translation>
        </message>
        <message>
            <source>灯光波光</source>
            <translation>Rippling light</translation>
        </message>
        <message>
            <source>红色灯光</source>
            <translation>Red light</translation>
        </message>
        <message>
            <source>晴天霹雳</source>
            <translation>Thunderbolt</translation>
        </message>
        <message>
            <source>闪动变色</source>
            <translation>Colour flashes</translation>
        </message>
        <message>
            <source>蓝球</source>
            <translation>Blue ball</translation>
        </message>
        <message>
            <source>旋转红光</source>
            <translation>Spinning red light</translation>
        </message>
        <message>
            <source>闪光灯</source>
            <translation>Strobe</translation>
        </message>
        <message>
            <source>向阳花</source>
            <translation>Sunflower</translation>
        </message>
        <message>
            <source>手机屏幕</source>
            <translation>Phone screen</translation>
        </message>
        <message>
            <source>笔记本</source>
            <translation>Notebook</translation>
        </message>
        <message>
            <source>花园</source>
            <translation>Garden</translation>
        </message>
        <message>
            <source>芳草萋萋</source>
            <translation>Lush grass</translation>
        </message>
        <message>
            <source>枷锁</source>
            <translation>Shackles</translation>
        </message>
        <message>
            <source>我爱你</source>
            <translation>I love you</translation>
        </message>
        <message>
            <source>转转星</source>
            <translation>Spinning stars</translation>
        </message>
        <message>
            <source>爱情公园</source>
            <translation>Lovers' park</translation>
        </message>
        <message>
            <source>彩虹仙子</source>
            <translation>Rainbow fairy</translation>
        </message>
        <message>
            <source>蝶恋花</source>
            <translation>Butterfly and flower</translation>
        </message>
        <message>
            <source>花丛</source>
            <translation>Flower bed</translation>
        </message>
        <message>
            <source>蝶舞</source>
            <translation>Butterfly dance</translation>
        </message>
        <message>
            <source>酷兔</source>
            <translation>Cool rabbit</translation>
        </message>
        <message>
            <source>花的田野</source>
            <translation>Field of flowers</translation>
        </message>
        <message>
            <source>蓝花闪动</source>
            <translation>Twinkling blue flowers</translation>
        </message>
        <message>
            <source>效果 %1</source>
            <translation>Effect %1</translation>
        </message>
    </context>
    <context>
        <name>kelo::HeadlessRunner</name>
        <message>
            <source>请插入USB无视频设备!</source>
            <translation>Please plug in a USB camera!</translation>
        </message>
        <message>
            <source>无音频设备</source>
            <translation>No microphone</translation>
        </message>
        <message>
            <source>视频设备：</source>
            <translation>Camera:</translation>
        </message>
        <message>
            <source>录音设备：</source>
            <translation>Microphone:</translation>
        </message>
        <message>
            <source>usage: kelocam --headless [--test-devices[=VIDEO1,...;AUDIO1,...]] [--video-device N]
                          [--audio-device N] [--snapshot] [--face-cover]
                          [--background-blur] [--video-size WxH] [--fps N]
                          [--record KIND --seconds S]
Runs the capture engine without the window until SIGINT or SIGTERM. Device positions
count from 1, as in the window&apos;s lists. --record makes one recording of KIND (0 AVI
video+audio, 1 AVI video, 2 AVI PCM audio, 3 WMV video+audio, 4 WMV video, 5 WAV
audio, 6 MP4 video+audio, 7 MP4 video, 8 MP3 audio) for S seconds into the REC folder
of data.ini, prints the file&apos;s path and exits 0, or exits 1 with the reason.
--video-size (for example 1280x720) and --fps (1 to 120) ask the camera for that
capture mode instead of data.ini&apos;s [VIDEO]; the mode the camera gives is printed.
A test video name ending in :jpeg delivers only JPEG pictures; one ending in :face
shows the photograph KELOCAM_TEST_FACE (a JPEG file) panning slowly; one ending in
:vga offers only 640x480 at 30 frames per second; one ending in :silent opens but
never sends a frame.
</source>
            <translation>usage: kelocam --headless [--test-devices[=VIDEO1,...;AUDIO1,...]] [--video-device N]
                          [--audio-device N] [--snapshot] [--face-cover]
                          [--background-blur] [--video-size WxH] [--fps N]
                          [--record KIND --seconds S]
Runs the capture engine without the window until SIGINT or SIGTERM. Device positions
count from 1, as in the window&apos;s lists. --record makes one recording of KIND (0 AVI
video+audio, 1 AVI video, 2 AVI PCM audio, 3 WMV video+audio, 4 WMV video, 5 WAV
audio, 6 MP4 video+audio, 7 MP4 video, 8 MP3 audio) for S seconds into the REC folder
of data.ini, prints the file&apos;s path and exits 0, or exits 1 with the reason.
--video-size (for example 1280x720) and --fps (1 to 120) ask the camera for that
capture mode instead of data.ini&apos;s [VIDEO]; the mode the camera gives is printed.
A test video name ending in :jpeg delivers only JPEG pictures; one ending in :face
shows the photograph KELOCAM_TEST_FACE (a JPEG file) panning slowly; one ending in
:vga offers only 640x480 at 30 frames per second; one ending in :silent opens but
never sends a frame.
</translation>
        </message>
        <message>
            <source>%1 needs a device position (1, 2, ...)</source>
            <translation>%1 needs a device position (1, 2, ...)</translation>
        </message>
        <message>
            <source>--record needs a recording kind from 0 to 8</source>
            <translation>--record needs a recording kind from 0 to 8</translation>
        </message>
        <message>
            <source>--video-size needs WIDTHxHEIGHT (16x16 to 7680x4320)</source>
            <translation>--video-size needs WIDTHxHEIGHT (16x16 to 7680x4320)</translation>
        </message>
        <message>
            <source>--fps needs frames per second from 1 to 120</source>
            <translation>--fps needs frames per second from 1 to 120</translation>
        </message>
        <message>
            <source>--seconds needs a length in seconds (more than 0, at most 86400)</source>
            <translation>--seconds needs a length in seconds (more than 0, at most 86400)</translation>
        </message>
        <message>
            <source>unknown argument: %1</source>
            <translation>unknown argument: %1</translation>
        </message>
        <message>
            <source>--record and --seconds go together</source>
            <translation>--record and --seconds go together</translation>
        </message>
        <message>
            <source>(none)</source>
            <translation>(none)</translation>
        </message>
        <message>
            <source>capture stopped: %1</source>
            <translation>capture stopped: %1</translation>
        </message>
        <message>
            <source>recording: %1</source>
            <translation>recording: %1</translation>
        </message>
        <message>
            <source>photo written: %1</source>
            <translation>photo written: %1</translation>
        </message>
        <message>
            <source>no photo: the photo size %1 of data.ini is not valid</source>
            <translation>no photo: the photo size %1 of data.ini is not valid</translation>
        </message>
        <message>
            <source>no photo: %1</source>
            <translation>no photo: %1</translation>
        </message>
        <message>
            <source>capture mode %1x%2 at %3 frames per second</source>
            <translation>capture mode %1x%2 at %3 frames per second</translation>
        </message>
        <message>
            <source>the capture graph could not be built</source>
            <translation>the capture graph could not be built</translation>
        </message>
        <message>
            <source>the preview chain could not be connected</source>
            <translation>the preview chain could not be connected</translation>
        </message>
        <message>
            <source>the capture graph could not be started</source>
            <translation>the capture graph could not be started</translation>
        </message>
        <message>
            <source>preview running</source>
            <translation>preview running</translation>
        </message>
        <message>
            <source>colour adjustment restored</source>
            <translation>colour adjustment restored</translation>
        </message>
        <message>
            <source>overlay %1 %2 playing (%3)</source>
            <translation>overlay %1 %2 playing (%3)</translation>
        </message>
        <message>
            <source>overlay effect file not readable or without a picture: %1</source>
            <translation>overlay effect file not readable or without a picture: %1</translation>
        </message>
        <message>
            <source>face cover on</source>
            <translation>face cover on</translation>
        </message>
        <message>
            <source>background blur on</source>
            <translation>background blur on</translation>
        </message>
        <message>
            <source>photo requested (%1) in %2</source>
            <translation>photo requested (%1) in %2</translation>
        </message>
        <message>
            <source>no recording: %1</source>
            <translation>no recording: %1</translation>
        </message>
        <message>
            <source>no recording: the graph of kind %1 could not be built</source>
            <translation>no recording: the graph of kind %1 could not be built</translation>
        </message>
        <message>
            <source>no recording: the graph could not start (can %1 be written?)</source>
            <translation>no recording: the graph could not start (can %1 be written?)</translation>
        </message>
        <message>
            <source>recording %1</source>
            <translation>recording %1</translation>
        </message>
        <message>
            <source>no recording: %1 is missing or empty</source>
            <translation>no recording: %1 is missing or empty</translation>
        </message>
        <message>
            <source>stopped</source>
            <translation>stopped</translation>
        </message>
    </context>
    <context>
        <name>kelo::MainDialog</name>
        <message>
            <source>最小化</source>
            <translation>Minimise</translation>
        </message>
        <message>
            <source>关闭</source>
            <translation>Close</translation>
        </message>
        <message>
            <source>请插入USB无视频设备!</source>
            <translation>Please plug in a USB camera!</translation>
        </message>
        <message>
            <source>无音频设备</source>
            <translation>No microphone</translation>
        </message>
        <message>
            <source>温馨提示</source>
            <translation>Notice</translation>
        </message>
        <message>
            <source>视频采集已停止：</source>
            <translation>The camera stopped: </translation>
        </message>
        <message>
            <source>色彩调节</source>
            <translation>Colour</translation>
        </message>
        <message>
            <source>相框</source>
            <translation>Frames</translation>
        </message>
        <message>
            <source>灯光</source>
            <translation>Lights</translation>
        </message>
        <message>
            <source>动画</source>
            <translation>Cartoons</translation>
        </message>
        <message>
            <source>其它</source>
            <translation>More</translation>
        </message>
        <message>
            <source>关于 Kelo 摄像头工作室(&amp;A)...</source>
            <translation>&amp;About Kelo Webcam Studio...</translation>
        </message>
        <message>
            <source>录制中...</source>
            <translation>Recording...</translation>
        </message>
        <message>
            <source>无视频设备</source>
            <translation>No camera</translation>
        </message>
        <message>
            <source>录制失败：</source>
            <translation>Recording failed: </translation>
        </message>
        <message>
            <source>照片保存失败：</source>
            <translation>The photo could not be saved: </translation>
        </message>
        <message>
            <source>作者介绍</source>
            <translation>About the authors</translation>
        </message>
        <message>
            <source>Kelo 摄像头工作室 1.0

由 Kelo 团队编写：实时特效、虚拟摄像头、拍照与录制。
感谢 Qt、GStreamer、OpenCV 和 libjpeg-turbo 的作者们。</source>
            <translation>Kelo Webcam Studio 1.0

Written by the Kelo team: live effects, a virtual camera, photos and recordings.
Thanks to the authors of Qt, GStreamer, OpenCV and libjpeg-turbo.</translation>
        </message>
        <message>
            <source>照片尺寸无效，请在设置中重新选择</source>
            <translation>The photo size is not valid; choose one again in the settings</translation>
        </message>
        <message>
            <source>内存不足</source>
            <translation>Not enough memory</translation>
        </message>
        <message>
            <source>无法创建文件（文件夹不存在或没有写入权限）</source>
            <translation>The file cannot be created (the folder does not exist or cannot be written)</translation>
        </message>
        <message>
            <source>JPEG 编码出错：</source>
            <translation>JPEG encoding failed: </translation>
        </message>
        <message>
            <source>文件没有写完（磁盘已满？）</source>
            <translation>The file was not written completely (is the disk full?)</translation>
        </message>
        <message>
            <source>文件夹不存在：</source>
            <translation>The folder does not exist: </translation>
        </message>
        <message>
            <source>文件夹不可写：</source>
            <translation>The folder cannot be written: </translation>
        </message>
        <message>
            <source>无法建立采集图</source>
            <translation>The capture graph cannot be built</translation>
        </message>
        <message>
            <source>所选格式需要录音设备</source>
            <translation>The chosen format needs a microphone</translation>
        </message>
        <message>
            <source>无法建立录制图（设备或编码器不可用）</source>
            <translation>The recording graph cannot be built (a device or an encoder is not available)</translation>
        </message>
        <message>
            <source>录制图无法运行（%1）</source>
            <translation>The recording graph cannot run (%1)</translation>
        </message>
        <message>
            <source>设备已断开（%1）</source>
            <translation>The device was unplugged (%1)</translation>
        </message>
        <message>
            <source>%1 × %2, %3 帧/秒</source>
            <translation>%1 × %2, %3 frames a second</translation>
        </message>
        <message>
            <source>正在打开摄像头...</source>
            <translation>Opening the camera...</translation>
        </message>
        <message>
            <source>摄像头 %1 秒内没有送来画面（%2）</source>
            <translation>The camera sent no picture within %1 seconds (%2)</translation>
        </message>
        <message>
            <source>摄像头没有在运行，无法拍照</source>
            <translation>The camera is not running: no photo can be taken</translation>
        </message>
        <message>
            <source>文件夹不存在</source>
            <translation>the folder does not exist</translation>
        </message>
        <message>
            <source>磁盘空间不足</source>
            <translation>the disk is full</translation>
        </message>
        <message>
            <source>没有写入权限</source>
            <translation>no permission to write</translation>
        </message>
        <message>
            <source>已修复未完成的录制：</source>
            <translation>An unfinished recording was repaired: </translation>
        </message>
        <message>
            <source>%1（%2）</source>
            <translation>%1 (%2)</translation>
        </message>
    </context>
    <context>
        <name>kelo::StudioApplication</name>
        <message>
            <source>  --version               print the version and exit
  --from-desktop          work in $XDG_CONFIG_HOME/kelocam (~/.config/kelocam), made
                          when missing, so that data.ini lands there (the desktop
                          menu starts the studio so); otherwise the studio works in
                          the folder it was started in
</source>
            <translation>  --version               print the version and exit
  --from-desktop          work in $XDG_CONFIG_HOME/kelocam (~/.config/kelocam), made
                          when missing, so that data.ini lands there (the desktop
                          menu starts the studio so); otherwise the studio works in
                          the folder it was started in
</translation>
        </message>
        <message>
            <source>usage: kelocam [--test-devices[=VIDEO1,...;AUDIO1,...]] [--face-cover]
       kelocam --headless [options of the headless mode, below]
       kelocam --help
Opens the studio window with the cameras and microphones of this machine.
  --test-devices          add one &quot;Test Camera&quot; (a moving pattern) and one &quot;Test
                          Microphone&quot; (a tone) to the device lists
  --test-devices=V,...;A,...
                          add test devices with these names, in this order (an empty
                          list adds none of that kind; no &apos;;&apos; adds no microphone)
  --face-cover            start with the face cover on (&quot;遮盖脸部&quot; checked)
  --headless              run the capture engine without the window
  --help                  show this text
</source>
            <translation>usage: kelocam [--test-devices[=VIDEO1,...;AUDIO1,...]] [--face-cover]
       kelocam --headless [options of the headless mode, below]
       kelocam --help
Opens the studio window with the cameras and microphones of this machine.
  --test-devices          add one &quot;Test Camera&quot; (a moving pattern) and one &quot;Test
                          Microphone&quot; (a tone) to the device lists
  --test-devices=V,...;A,...
                          add test devices with these names, in this order (an empty
                          list adds none of that kind; no &apos;;&apos; adds no microphone)
  --face-cover            start with the face cover on (&quot;Cover faces&quot; checked)
  --headless              run the capture engine without the window
  --help                  show this text
</translation>
        </message>
        <message>
            <source>Environment: KELOCAM_FEED_NAME (the virtual camera&apos;s shared-memory block, default
/KeloVCam), KELOCAM_DATA_DIR (read-only assets after the working directory, before
../share/kelocam beside the program), KELOCAM_LANG=zh|en (the window&apos;s language; by
default Chinese on a Chinese desktop, LANG/LC_MESSAGES zh_*, else English; the
terminal&apos;s texts too).

</source>
            <translation>Environment: KELOCAM_FEED_NAME (the virtual camera&apos;s shared-memory block, default
/KeloVCam), KELOCAM_DATA_DIR (read-only assets after the working directory, before
../share/kelocam beside the program), KELOCAM_LANG=zh|en (the window&apos;s language; by
default Chinese on a Chinese desktop, LANG/LC_MESSAGES zh_*, else English; the
terminal&apos;s texts too).

</translation>
        </message>
        <message>
            <source>%1 belongs to the headless mode (kelocam --headless %1 ...)</source>
            <translation>%1 belongs to the headless mode (kelocam --headless %1 ...)</translation>
        </message>
        <message>
            <source>unknown option: %1</source>
            <translation>unknown option: %1</translation>
        </message>
        <message>
            <source>kelocam: %1
Try kelocam --help.
</source>
            <translation>kelocam: %1
Try kelocam --help.
</translation>
        </message>
    </context>
    <context>
        <name>kelo::ui::FolderPickerWindow</name>
        <message>
            <source>选择文件夹</source>
            <translation>Choose a folder</translation>
        </message>
        <message>
            <source>选择</source>
            <translation>Choose</translation>
        </message>
        <message>
            <source>取消</source>
            <translation>Cancel</translation>
        </message>
        <message>
            <source>查找范围:</source>
            <translation>Look in:</translation>
        </message>
    </context>
    <context>
        <name>kelo::ui::PhotoStrip</name>
        <message>
            <source>已保存：%1</source>
            <translation>Saved: %1</translation>
        </message>
        <message>
            <source>已保存：%1（%2）</source>
            <translation>Saved: %1 (%2)</translation>
        </message>
        <message>
            <source>打开所在文件夹：%1</source>
            <translation>Open its folder: %1</translation>
        </message>
    </context>
    <context>
        <name>kelo::vcam::BridgeText</name>
        <message>
            <source>another kelocam-vcam is already delivering %1 (lock %2 held); stop it first</source>
            <translation>another kelocam-vcam is already delivering %1 (lock %2 held); stop it first</translation>
        </message>
        <message>
            <source>cannot create or open the shared memory block %1</source>
            <translation>cannot create or open the shared memory block %1</translation>
        </message>
        <message>
            <source>cannot deliver to %1</source>
            <translation>cannot deliver to %1</translation>
        </message>
        <message>
            <source>no PipeWire camera: %1</source>
            <translation>no PipeWire camera: %1</translation>
        </message>
        <message>
            <source>standard output is a terminal; pipe the Y4M stream into a program (kelocam-vcam --y4m - | ffplay -f yuv4mpegpipe -i -)</source>
            <translation>standard output is a terminal; pipe the Y4M stream into a program (kelocam-vcam --y4m - | ffplay -f yuv4mpegpipe -i -)</translation>
        </message>
        <message>
            <source>delivering %1 at %2 frames per second, %3x%4, to %5</source>
            <translation>delivering %1 at %2 frames per second, %3x%4, to %5</translation>
        </message>
        <message>
            <source>following %1: %2x%3 at %4 frames per second</source>
            <translation>following %1: %2x%3 at %4 frames per second</translation>
        </message>
        <message>
            <source>%1 is not being written; following %2</source>
            <translation>%1 is not being written; following %2</translation>
        </message>
        <message>
            <source>now %1x%2 at %3 frames per second</source>
            <translation>now %1x%2 at %3 frames per second</translation>
        </message>
        <message>
            <source>the PipeWire camera is gone: %1</source>
            <translation>the PipeWire camera is gone: %1</translation>
        </message>
        <message>
            <source>the PipeWire camera is gone: %1; the other outputs go on</source>
            <translation>the PipeWire camera is gone: %1; the other outputs go on</translation>
        </message>
        <message>
            <source>the Y4M reader went away; the other outputs go on</source>
            <translation>the Y4M reader went away; the other outputs go on</translation>
        </message>
        <message>
            <source>stopped; %1 is left in place</source>
            <translation>stopped; %1 is left in place</translation>
        </message>
        <message>
            <source>Usage: kelocam-vcam [--pipewire] [--device /dev/videoN] [--y4m FILE|-]
                    [--size WxH] [--format yuy2|i420] [--frames N]

Delivers the Kelo studio&apos;s processed video to other programs. Creates the shared
memory block the studio writes (or opens it when it exists) and follows the
studio&apos;s HD block (the same name with HD appended) while the studio writes it, at
the studio&apos;s size and rate; otherwise the 320x240 block at 15 frames per second.
Each frame goes out upright:
  --pipewire      as a PipeWire camera, &quot;Kelo Virtual Camera&quot; (node kelo-vcam)
  --device PATH   to a v4l2loopback device (load it with card_label=&quot;Kelo Virtual
                  Camera&quot; exclusive_caps=1)
  --y4m FILE      as a YUV4MPEG2 stream (4:2:0); - writes to standard output
  --size WxH      scale to this size (even width; default: the studio&apos;s size)
  --format F      what the PipeWire camera and the device are given: yuy2 (default)
                  or i420
  --frames N      stop after N frames
Without an output option it picks one: PipeWire when a PipeWire daemon answers, else
a loopback device labelled &quot;Kelo Virtual Camera&quot;.

Stops on SIGINT or SIGTERM and leaves the block in place. Only one bridge runs per
block. The block is /KeloVCam unless KELOCAM_FEED_NAME names another.
</source>
            <translation>Usage: kelocam-vcam [--pipewire] [--device /dev/videoN] [--y4m FILE|-]
                    [--size WxH] [--format yuy2|i420] [--frames N]

Delivers the Kelo studio&apos;s processed video to other programs. Creates the shared
memory block the studio writes (or opens it when it exists) and follows the
studio&apos;s HD block (the same name with HD appended) while the studio writes it, at
the studio&apos;s size and rate; otherwise the 320x240 block at 15 frames per second.
Each frame goes out upright:
  --pipewire      as a PipeWire camera, &quot;Kelo Virtual Camera&quot; (node kelo-vcam)
  --device PATH   to a v4l2loopback device (load it with card_label=&quot;Kelo Virtual
                  Camera&quot; exclusive_caps=1)
  --y4m FILE      as a YUV4MPEG2 stream (4:2:0); - writes to standard output
  --size WxH      scale to this size (even width; default: the studio&apos;s size)
  --format F      what the PipeWire camera and the device are given: yuy2 (default)
                  or i420
  --frames N      stop after N frames
Without an output option it picks one: PipeWire when a PipeWire daemon answers, else
a loopback device labelled &quot;Kelo Virtual Camera&quot;.

Stops on SIGINT or SIGTERM and leaves the block in place. Only one bridge runs per
block. The block is /KeloVCam unless KELOCAM_FEED_NAME names another.
</translation>
        </message>
        <message>
            <source>unknown argument &quot;%1&quot;</source>
            <translation>unknown argument &quot;%1&quot;</translation>
        </message>
        <message>
            <source>%1 needs a value</source>
            <translation>%1 needs a value</translation>
        </message>
        <message>
            <source>--device needs a device path such as /dev/video10</source>
            <translation>--device needs a device path such as /dev/video10</translation>
        </message>
        <message>
            <source>--y4m needs a file name, or - for standard output</source>
            <translation>--y4m needs a file name, or - for standard output</translation>
        </message>
        <message>
            <source>--size wants WxH with an even width, each side 2 to 4096 (got &quot;%1&quot;)</source>
            <translation>--size wants WxH with an even width, each side 2 to 4096 (got &quot;%1&quot;)</translation>
        </message>
        <message>
            <source>--format is yuy2 or i420 (got &quot;%1&quot;)</source>
            <translation>--format is yuy2 or i420 (got &quot;%1&quot;)</translation>
        </message>
        <message>
            <source>--frames wants a positive count (got &quot;%1&quot;)</source>
            <translation>--frames wants a positive count (got &quot;%1&quot;)</translation>
        </message>
        <message>
            <source>no output given; a PipeWire daemon answers at %1: publishing the PipeWire camera &quot;Kelo Virtual Camera&quot; (--pipewire)</source>
            <translation>no output given; a PipeWire daemon answers at %1: publishing the PipeWire camera &quot;Kelo Virtual Camera&quot; (--pipewire)</translation>
        </message>
        <message>
            <source>no output given and no PipeWire daemon answers; writing to the loopback device &quot;Kelo Virtual Camera&quot; (--device %1)</source>
            <translation>no output given and no PipeWire daemon answers; writing to the loopback device &quot;Kelo Virtual Camera&quot; (--device %1)</translation>
        </message>
        <message>
            <source>no output given, and this machine has neither a PipeWire daemon nor a loopback device labelled &quot;Kelo Virtual Camera&quot;. Three ways:
  --pipewire      a PipeWire camera, no root needed: install the Debian packages
                  pipewire, wireplumber and gstreamer1.0-pipewire, then
                  systemctl --user start pipewire wireplumber
  --device PATH   a v4l2loopback device: sudo apt-get install v4l2loopback-dkms, then
                  sudo modprobe v4l2loopback video_nr=10 card_label=&quot;Kelo Virtual Camera&quot; exclusive_caps=1
  --y4m FILE|-    a YUV4MPEG2 stream to a file or to another program:
                  kelocam-vcam --y4m - | ffplay -f yuv4mpegpipe -i -</source>
            <translation>no output given, and this machine has neither a PipeWire daemon nor a loopback device labelled &quot;Kelo Virtual Camera&quot;. Three ways:
  --pipewire      a PipeWire camera, no root needed: install the Debian packages
                  pipewire, wireplumber and gstreamer1.0-pipewire, then
                  systemctl --user start pipewire wireplumber
  --device PATH   a v4l2loopback device: sudo apt-get install v4l2loopback-dkms, then
                  sudo modprobe v4l2loopback video_nr=10 card_label=&quot;Kelo Virtual Camera&quot; exclusive_caps=1
  --y4m FILE|-    a YUV4MPEG2 stream to a file or to another program:
                  kelocam-vcam --y4m - | ffplay -f yuv4mpegpipe -i -</translation>
        </message>
    </context>
</TS>
