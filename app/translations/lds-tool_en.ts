<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>AppSettings</name>
    <message>
        <source>无法在临时文件夹 %1 中写入</source>
        <translation>Cannot write in the temporary folder %1</translation>
    </message>
</context>
<context>
    <name>DiagnosisDock</name>
    <message>
        <source>诊断</source>
        <translation>Diagnosis</translation>
    </message>
    <message>
        <source>时间跨度（横轴：秒）</source>
        <translation>Span (axis: seconds)</translation>
    </message>
    <message>
        <source>%1 秒</source>
        <translation>%1 s</translation>
    </message>
    <message>
        <source>%1 分钟</source>
        <translation>%1 min</translation>
    </message>
    <message>
        <source>转速 (r/min)</source>
        <translation>Rotation speed (r/min)</translation>
    </message>
    <message>
        <source>每圈点数</source>
        <translation>Points per revolution</translation>
    </message>
    <message>
        <source>每圈空点数</source>
        <translation>Empty points per revolution</translation>
    </message>
    <message>
        <source>包/秒</source>
        <translation>Packets/s</translation>
    </message>
    <message>
        <source>CRC错误/秒</source>
        <translation>CRC errors/s</translation>
    </message>
    <message>
        <source>丢弃字节/秒</source>
        <translation>Skipped bytes/s</translation>
    </message>
    <message>
        <source>数据来源：%1</source>
        <translation>Source: %1</translation>
    </message>
</context>
<context>
    <name>FrameExport</name>
    <message>
        <source>PCD 点云 (*.pcd)</source>
        <translation>PCD point cloud (*.pcd)</translation>
    </message>
    <message>
        <source>PNG 图像 (*.png)</source>
        <translation>PNG image (*.png)</translation>
    </message>
    <message>
        <source>保存当前帧</source>
        <translation>Save the frame shown</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>写入保存文件失败！</source>
        <translation>Writing to the save file failed!</translation>
    </message>
    <message>
        <source>写入 %1 失败：%2</source>
        <translation>Writing %1 failed: %2</translation>
    </message>
    <message>
        <source>已保存当前帧 %1</source>
        <translation>Saved the frame shown as %1</translation>
    </message>
</context>
<context>
    <name>Language</name>
    <message>
        <source>语言 / Language</source>
        <translation>Language / 语言</translation>
    </message>
    <message>
        <source>无法保存语言选择 %1：%2</source>
        <translation>Could not save the language choice to %1: %2</translation>
    </message>
</context>
<context>
    <name>LinkControl</name>
    <message>
        <source>原因不明</source>
        <translation>reason unknown</translation>
    </message>
</context>
<context>
    <name>LinkHealth</name>
    <message>
        <source>%1 点/秒 · %2 包/秒 · CRC错误 %3 · 丢弃字节 %4</source>
        <translation>%1 points/s · %2 packets/s · CRC errors %3 · skipped bytes %4</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>MainWindow</source>
        <translation>MainWindow</translation>
    </message>
    <message>
        <source>连接</source>
        <comment>group box title</comment>
        <translation>Connection</translation>
    </message>
    <message>
        <source>串口</source>
        <translation>Serial port</translation>
    </message>
    <message>
        <source>刷新</source>
        <translation>Refresh</translation>
    </message>
    <message>
        <source>波特率</source>
        <translation>Baud rate</translation>
    </message>
    <message>
        <source>115200</source>
        <translation>115200</translation>
    </message>
    <message>
        <source>230400</source>
        <translation>230400</translation>
    </message>
    <message>
        <source>460800</source>
        <translation>460800</translation>
    </message>
    <message>
        <source>连接</source>
        <translation>Connect</translation>
    </message>
    <message>
        <source>启动</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>信息</source>
        <translation>Information</translation>
    </message>
    <message>
        <source>转速：</source>
        <translation>Speed:</translation>
    </message>
    <message>
        <source>0 r/min</source>
        <translation>0 r/min</translation>
    </message>
    <message>
        <source>时间戳：</source>
        <translation>Timestamp:</translation>
    </message>
    <message>
        <source>-1 ms</source>
        <translation>-1 ms</translation>
    </message>
    <message>
        <source>选中距离：</source>
        <translation>Picked distance:</translation>
    </message>
    <message>
        <source>0 m</source>
        <translation>0 m</translation>
    </message>
    <message>
        <source>选中角度：</source>
        <translation>Picked angle:</translation>
    </message>
    <message>
        <source>0 °</source>
        <translation>0 °</translation>
    </message>
    <message>
        <source>选中信号：</source>
        <translation>Picked intensity:</translation>
    </message>
    <message>
        <source>0</source>
        <translation>0</translation>
    </message>
    <message>
        <source>显示</source>
        <translation>View</translation>
    </message>
    <message>
        <source>旋转方向</source>
        <translation>Rotation direction</translation>
    </message>
    <message>
        <source>文件</source>
        <translation>File</translation>
    </message>
    <message>
        <source>设置点云尺寸</source>
        <translation>Set point size</translation>
    </message>
    <message>
        <source>保存.csv</source>
        <translation>Save .csv</translation>
    </message>
    <message>
        <source>设置角度偏移</source>
        <translation>Set angle offset</translation>
    </message>
    <message>
        <source>使能角度矫正</source>
        <translation>Enable angle calibration</translation>
    </message>
    <message>
        <source>使能滤波</source>
        <translation>Enable point filter</translation>
    </message>
    <message>
        <source>使能距离补偿</source>
        <translation>Enable distance correction</translation>
    </message>
    <message>
        <source>使能棱边滤波</source>
        <translation>Enable edge filter</translation>
    </message>
    <message>
        <source>使能水中噪点滤波</source>
        <translation>Enable water-noise filter</translation>
    </message>
    <message>
        <source>设置距离差极值阈值</source>
        <translation>Set distance-difference threshold</translation>
    </message>
    <message>
        <source>设置滤波距离最小值</source>
        <translation>Set filter minimum distance</translation>
    </message>
    <message>
        <source>设置滤波距离最大值</source>
        <translation>Set filter maximum distance</translation>
    </message>
    <message>
        <source>设置滤波信号阈值</source>
        <translation>Set filter intensity threshold</translation>
    </message>
    <message>
        <source>顺时针</source>
        <translation>Clockwise</translation>
    </message>
    <message>
        <source>逆时针</source>
        <translation>Counter-clockwise</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>写入保存文件失败！</source>
        <translation>Writing to the save file failed!</translation>
    </message>
    <message>
        <source>连接设备失败！</source>
        <translation>Connecting to the device failed!</translation>
    </message>
    <message>
        <source>断开</source>
        <translation>Disconnect</translation>
    </message>
    <message>
        <source>成功</source>
        <translation>Success</translation>
    </message>
    <message>
        <source>启动成功！</source>
        <translation>Started!</translation>
    </message>
    <message>
        <source>启动失败！</source>
        <translation>Starting failed!</translation>
    </message>
    <message>
        <source>停止成功！</source>
        <translation>Stopped!</translation>
    </message>
    <message>
        <source>停止失败！</source>
        <translation>Stopping failed!</translation>
    </message>
    <message>
        <source>停止保存.csv</source>
        <translation>Stop saving .csv</translation>
    </message>
    <message>
        <source>Save File</source>
        <translation>Save File</translation>
    </message>
    <message>
        <source>CSV File (*.csv)</source>
        <translation>CSV File (*.csv)</translation>
    </message>
    <message>
        <source>提示</source>
        <translation>Notice</translation>
    </message>
    <message>
        <source>未选择保存路径！</source>
        <translation>No file chosen to save to!</translation>
    </message>
    <message>
        <source>打开保存文件失败！</source>
        <translation>Opening the save file failed!</translation>
    </message>
    <message>
        <source>offset(°)</source>
        <translation>offset(°)</translation>
    </message>
    <message>
        <source>Value</source>
        <translation>Value</translation>
    </message>
    <message>
        <source>尺寸</source>
        <translation>Size</translation>
    </message>
    <message>
        <source>诊断</source>
        <translation>Diagnosis</translation>
    </message>
    <message>
        <source>写入 %1 失败：%2 · 已写入 %3 行</source>
        <translation>Writing %1 failed: %2 · %3 rows written</translation>
    </message>
    <message>
        <source>已断开 %1</source>
        <translation>Disconnected from %1</translation>
    </message>
    <message>
        <source>正在连接 %1…</source>
        <translation>Connecting to %1…</translation>
    </message>
    <message>
        <source>连接 %1 失败：%2</source>
        <translation>Connecting to %1 failed: %2</translation>
    </message>
    <message>
        <source>与 %1 的连接已断开：%2</source>
        <translation>The link to %1 was lost: %2</translation>
    </message>
    <message>
        <source>正在连接 %1，请等连接完成。</source>
        <translation>Connecting to %1: wait until it has connected or failed.</translation>
    </message>
    <message>
        <source>恢复默认设置</source>
        <translation>Restore default settings</translation>
    </message>
    <message>
        <source>把语言以外的所有设置恢复为首次启动时的状态？</source>
        <translation>Put every setting but the language back to its first-start state?</translation>
    </message>
    <message>
        <source>已连接的端口和波特率保持不变。</source>
        <translation>The port and baud rate of the open connection stay as they are.</translation>
    </message>
    <message>
        <source>已恢复默认设置</source>
        <translation>Default settings restored</translation>
    </message>
    <message>
        <source>追加到 %1 · %2 行</source>
        <translation>appending to %1 · %2 rows</translation>
    </message>
    <message>
        <source>正在保存 %1 · %2 行</source>
        <translation>saving %1 · %2 rows</translation>
    </message>
    <message>
        <source>无法打开 %1：%2</source>
        <translation>Cannot open %1: %2</translation>
    </message>
    <message>
        <source>写入 %1 失败：%2</source>
        <translation>Writing %1 failed: %2</translation>
    </message>
    <message>
        <source>已保存 %1 · %2 行</source>
        <translation>Saved %1 · %2 rows</translation>
    </message>
    <message>
        <source>正在启动…</source>
        <translation>Starting…</translation>
    </message>
    <message>
        <source>正在停止…</source>
        <translation>Stopping…</translation>
    </message>
    <message>
        <source>传感器已启动</source>
        <translation>The sensor has started</translation>
    </message>
    <message>
        <source>传感器已停止</source>
        <translation>The sensor has stopped</translation>
    </message>
    <message>
        <source>启动失败：传感器没有应答</source>
        <translation>Starting failed: the sensor did not answer</translation>
    </message>
    <message>
        <source>停止失败：传感器没有应答</source>
        <translation>Stopping failed: the sensor did not answer</translation>
    </message>
    <message>
        <source>无法保存设置 %1：%2</source>
        <translation>Could not save the settings to %1: %2</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>RecordingCommands</name>
    <message>
        <source>保存原始数据…</source>
        <translation>Save raw data…</translation>
    </message>
    <message>
        <source>保存原始数据</source>
        <translation>Save raw data</translation>
    </message>
    <message>
        <source>原始数据 (*.raw)</source>
        <translation>Raw data (*.raw)</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>打开保存文件失败！</source>
        <translation>Opening the save file failed!</translation>
    </message>
    <message>
        <source>写入保存文件失败！</source>
        <translation>Writing to the save file failed!</translation>
    </message>
    <message>
        <source>无法打开 %1：%2</source>
        <translation>Cannot open %1: %2</translation>
    </message>
    <message>
        <source>正在保存原始数据 %1 · %2 字节</source>
        <translation>saving raw data %1 · %2 bytes</translation>
    </message>
    <message>
        <source>写入 %1 失败：%2</source>
        <translation>Writing %1 failed: %2</translation>
    </message>
    <message>
        <source>已保存原始数据 %1 · %2 字节</source>
        <translation>Saved raw data %1 · %2 bytes</translation>
    </message>
    <message>
        <source>回放 %1</source>
        <translation>replay of %1</translation>
    </message>
    <message>
        <source>实时 %1，%2 连接</source>
        <translation>live %1, connected at %2</translation>
    </message>
</context>
<context>
    <name>ReplayController</name>
    <message>
        <source>打开录制…</source>
        <translation>Open recording…</translation>
    </message>
    <message>
        <source>打开录制</source>
        <translation>Open recording</translation>
    </message>
    <message>
        <source>原始数据 (*.raw);;所有文件 (*)</source>
        <translation>Raw data (*.raw);;All files (*)</translation>
    </message>
    <message>
        <source>关闭录制</source>
        <translation>Close recording</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>打开录制文件失败！</source>
        <translation>Failed to open the recording!</translation>
    </message>
    <message>
        <source>回放</source>
        <translation>Replay</translation>
    </message>
    <message>
        <source>播放</source>
        <translation>Play</translation>
    </message>
    <message>
        <source>下一圈</source>
        <translation>Next revolution</translation>
    </message>
    <message>
        <source>回到开头</source>
        <translation>Back to start</translation>
    </message>
    <message>
        <source>原速</source>
        <translation>Recorded pace</translation>
    </message>
    <message>
        <source>最快</source>
        <translation>Fastest</translation>
    </message>
    <message>
        <source>暂停</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>第 %1 / %2 圈 · %3 s</source>
        <translation>Revolution %1 / %2 · %3 s</translation>
    </message>
    <message>
        <source> · 结束</source>
        <translation> · end</translation>
    </message>
    <message>
        <source>上一圈</source>
        <translation>Previous revolution</translation>
    </message>
    <message>
        <source>拖动到某一圈</source>
        <translation>Drag to a revolution</translation>
    </message>
    <message>
        <source>文件中没有数据包</source>
        <translation>No packets in the file</translation>
    </message>
    <message>
        <source>正在读取 %1…</source>
        <translation>Reading %1…</translation>
    </message>
    <message>
        <source>无法打开 %1：%2</source>
        <translation>Cannot open %1: %2</translation>
    </message>
</context>
<context>
    <name>StatusLine</name>
    <message>
        <source>画面已暂停</source>
        <translation>View held</translation>
    </message>
</context>
<context>
    <name>ViewCommands</name>
    <message>
        <source>暂停</source>
        <translation>Hold</translation>
    </message>
    <message>
        <source>继续</source>
        <translation>Resume</translation>
    </message>
    <message>
        <source>余辉…</source>
        <translation>Trails…</translation>
    </message>
    <message>
        <source>余辉</source>
        <translation>Trails</translation>
    </message>
    <message>
        <source>显示最近几圈（1–20）</source>
        <translation>Revolutions shown together (1–20)</translation>
    </message>
    <message>
        <source>保存当前帧…</source>
        <translation>Save the frame shown…</translation>
    </message>
    <message>
        <source>恢复默认设置</source>
        <translation>Restore default settings</translation>
    </message>
</context>
<context>
    <name>vtkViewer</name>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
</context>
</TS>
