<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>FrmMultiBuf</name>
    <message>
        <source>启动错误!请检查网络设置是否正确，驱动程序是否是MOX7710? </source>
        <translation>Start failed! Check that the network settings are right and that the driver is the MOX7710&apos;s. </translation>
    </message>
    <message>
        <source>MOX VB测试及编程源程序</source>
        <translation>MOX VB Test and Programming</translation>
    </message>
    <message>
        <source>读取数据方式</source>
        <translation>Reading mode</translation>
    </message>
    <message>
        <source>最新AD值</source>
        <translation>Newest AD</translation>
    </message>
    <message>
        <source>平均AD值</source>
        <translation>Mean AD</translation>
    </message>
    <message>
        <source>平均电压值</source>
        <translation>Mean volts</translation>
    </message>
    <message>
        <source>平均点数:</source>
        <translation>Points:</translation>
    </message>
    <message>
        <source>在线查询</source>
        <translation>Online</translation>
    </message>
    <message>
        <source>板卡信息:</source>
        <translation>Card:</translation>
    </message>
    <message>
        <source>开始采集</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>停止采集</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>开关量</source>
        <translation>DI/DO</translation>
    </message>
    <message>
        <source>DA输出</source>
        <translation>DA out</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>32路输入读数</source>
        <translation>Readings of the 32 inputs</translation>
    </message>
    <message>
        <source>每个输入一行：通道号和读数</source>
        <translation>One line per input: channel and reading</translation>
    </message>
    <message>
        <source>网络状态</source>
        <translation>Network status</translation>
    </message>
    <message>
        <source>板卡看到的PC地址和网络断开时间</source>
        <translation>The PC address the card sees and how long the link has been down</translation>
    </message>
    <message>
        <source>读取方式：每路最新的AD值</source>
        <translation>Reading mode: the newest AD value of each input</translation>
    </message>
    <message>
        <source>读取方式：平均点数个AD值的平均</source>
        <translation>Reading mode: the mean AD value over the points averaged</translation>
    </message>
    <message>
        <source>读取方式：平均点数个采样的平均电压</source>
        <translation>Reading mode: the mean voltage over the points averaged</translation>
    </message>
    <message>
        <source>平均点数</source>
        <translation>Points averaged</translation>
    </message>
    <message>
        <source>平均读取方式所平均的采样点数</source>
        <translation>Samples averaged by the mean reading modes</translation>
    </message>
    <message>
        <source>采集时每200毫秒刷新输入读数</source>
        <translation>Refreshes the input readings every 200 ms while acquiring</translation>
    </message>
    <message>
        <source>启动板卡的中断采集</source>
        <translation>Starts the card&apos;s interrupt acquisition</translation>
    </message>
    <message>
        <source>停止板卡的采集</source>
        <translation>Stops the card&apos;s acquisition</translation>
    </message>
    <message>
        <source>打开开关量测试窗口</source>
        <translation>Opens the digital I/O test window</translation>
    </message>
    <message>
        <source>打开DA输出测试窗口</source>
        <translation>Opens the DA output test window</translation>
    </message>
    <message>
        <source>停止采集并结束程序</source>
        <translation>Stops acquisition and ends the program</translation>
    </message>
    <message>
        <source>趋势图…</source>
        <translation>Trend…</translation>
    </message>
    <message>
        <source>右键菜单的“%1”或 %2 打开趋势图</source>
        <translation>“%1” in the context menu or %2 opens the trend window</translation>
    </message>
</context>
<context>
    <name>Readouts</name>
    <message>
        <source>卡名:</source>
        <translation>No.</translation>
    </message>
    <message>
        <source> 类型:</source>
        <translation> Type:</translation>
    </message>
    <message>
        <source>  速度:</source>
        <translation>,</translation>
    </message>
    <message>
        <source>K  精度:</source>
        <translation>K,</translation>
    </message>
    <message>
        <source>位</source>
        <translation> bits</translation>
    </message>
    <message>
        <source>PC的IP地址是：</source>
        <translation>PC IP address:</translation>
    </message>
    <message>
        <source>请设置您的计算机IP地址为</source>
        <translation>Please set this PC&apos;s IP address to </translation>
    </message>
    <message>
        <source>网络通信正常</source>
        <translation>Network link normal</translation>
    </message>
    <message>
        <source>网络断开时间(秒):</source>
        <translation>Link down for (s):</translation>
    </message>
</context>
<context>
    <name>frmDA</name>
    <message>
        <source>DA输出测试例程</source>
        <translation>DA Output Test</translation>
    </message>
    <message>
        <source>测试方法：输出不同地DA值，用万用表在JA1的17.18.19.20上测量DA输出结果</source>
        <translation>Test: measure the DA outputs on JA1 with a multimeter</translation>
    </message>
    <message>
        <source>DA0的输出在JA1的17，DA1-18,DA2-19,DA3-20，地线为40针</source>
        <translation>DA0-DA3 on JA1 pins 17-20; ground on pin 40</translation>
    </message>
    <message>
        <source>DA输出测试--16进制DA值输入模式</source>
        <translation>DA output test -- hexadecimal DA value</translation>
    </message>
    <message>
        <source>通道号（0-3:DA0-DA3）：</source>
        <translation>Channel (0-3: DA0-DA3):</translation>
    </message>
    <message>
        <source>DA值(hex0-FFFH)：</source>
        <translation>DA value (hex 0-FFF):</translation>
    </message>
    <message>
        <source>输出</source>
        <translation>Output</translation>
    </message>
    <message>
        <source>DA输出测试--DA电压值输入</source>
        <translation>DA output test -- DA voltage</translation>
    </message>
    <message>
        <source>DA值(V)：</source>
        <translation>DA value (V):</translation>
    </message>
    <message>
        <source>DA输出量程</source>
        <translation>DA range</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>DA通道号（十六进制输入）</source>
        <translation>DA channel (hexadecimal value)</translation>
    </message>
    <message>
        <source>DA通道0到3</source>
        <translation>DA channel 0 to 3</translation>
    </message>
    <message>
        <source>DA值（十六进制）</source>
        <translation>DA value (hexadecimal)</translation>
    </message>
    <message>
        <source>十六进制DA码，0到FFF</source>
        <translation>Hexadecimal DA code, 0 to FFF</translation>
    </message>
    <message>
        <source>输出十六进制DA值</source>
        <translation>Output hexadecimal DA value</translation>
    </message>
    <message>
        <source>把十六进制DA值输出到所选通道</source>
        <translation>Writes the hexadecimal DA value to the chosen channel</translation>
    </message>
    <message>
        <source>DA通道号步进（十六进制输入）</source>
        <translation>Step the DA channel (hexadecimal value)</translation>
    </message>
    <message>
        <source>用上下箭头改变DA通道号</source>
        <translation>Up and down arrows change the DA channel</translation>
    </message>
    <message>
        <source>DA通道号步进（电压输入）</source>
        <translation>Step the DA channel (voltage)</translation>
    </message>
    <message>
        <source>输出DA电压</source>
        <translation>Output DA voltage</translation>
    </message>
    <message>
        <source>把电压值按所选量程输出到所选通道</source>
        <translation>Writes the voltage in the chosen range to the chosen channel</translation>
    </message>
    <message>
        <source>DA电压值（V）</source>
        <translation>DA voltage (V)</translation>
    </message>
    <message>
        <source>要输出的电压，单位伏</source>
        <translation>Voltage to output, in volts</translation>
    </message>
    <message>
        <source>DA通道号（电压输入）</source>
        <translation>DA channel (voltage)</translation>
    </message>
    <message>
        <source>-5V~+5V</source>
        <translation>-5V~+5V</translation>
    </message>
    <message>
        <source>DA输出量程：双极性</source>
        <translation>DA output range: bipolar</translation>
    </message>
    <message>
        <source>0-10V</source>
        <translation>0-10V</translation>
    </message>
    <message>
        <source>DA输出量程：单极性</source>
        <translation>DA output range: unipolar</translation>
    </message>
    <message>
        <source>关闭DA输出测试窗口</source>
        <translation>Closes the DA output test window</translation>
    </message>
</context>
<context>
    <name>frmSW</name>
    <message>
        <source>开关量测试例程</source>
        <translation>Digital I/O Test</translation>
    </message>
    <message>
        <source>开关量输入:</source>
        <translation>Inputs:</translation>
    </message>
    <message>
        <source>开关量输入</source>
        <translation>Digital inputs</translation>
    </message>
    <message>
        <source>位:</source>
        <translation>Bit:</translation>
    </message>
    <message>
        <source>开关量输入0：</source>
        <translation>Input 0:</translation>
    </message>
    <message>
        <source>开关量输入1：</source>
        <translation>Input 1:</translation>
    </message>
    <message>
        <source>开关量输出--按字节输出模式</source>
        <translation>Digital output -- by byte</translation>
    </message>
    <message>
        <source>通道组（0 或1）：</source>
        <translation>Group (0 or 1):</translation>
    </message>
    <message>
        <source>开关量输出值(hex)：</source>
        <translation>Output value (hex):</translation>
    </message>
    <message>
        <source>输出</source>
        <translation>Output</translation>
    </message>
    <message>
        <source>开关量输出--按位输出模式</source>
        <translation>Digital output -- by bit</translation>
    </message>
    <message>
        <source>开关量输出值(0 /1)：</source>
        <translation>Output value (0/1):</translation>
    </message>
    <message>
        <source>(双击改变)</source>
        <translation>(dbl-click)</translation>
    </message>
    <message>
        <source>通道组数(1-16)：</source>
        <translation>Output (1-16):</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>检测状态:</source>
        <translation>Status:</translation>
    </message>
    <message>
        <source>关闭开关量测试窗口</source>
        <translation>Closes the digital I/O test window</translation>
    </message>
    <message>
        <source>开关量输出通道组</source>
        <translation>Output group</translation>
    </message>
    <message>
        <source>输出组0或1</source>
        <translation>Output group 0 or 1</translation>
    </message>
    <message>
        <source>开关量输出值（十六进制）</source>
        <translation>Output byte (hexadecimal)</translation>
    </message>
    <message>
        <source>一组8路输出的字节值，00到FF</source>
        <translation>Byte for a group of 8 outputs, 00 to FF</translation>
    </message>
    <message>
        <source>按字节输出</source>
        <translation>Write byte</translation>
    </message>
    <message>
        <source>把字节值输出到所选通道组</source>
        <translation>Writes the byte to the chosen output group</translation>
    </message>
    <message>
        <source>输出通道号步进</source>
        <translation>Step the output number</translation>
    </message>
    <message>
        <source>用上下箭头改变输出通道号，1到16</source>
        <translation>Up and down arrows change the output number, 1 to 16</translation>
    </message>
    <message>
        <source>按位输出</source>
        <translation>Write bit</translation>
    </message>
    <message>
        <source>把0或1输出到所选通道</source>
        <translation>Writes 0 or 1 to the chosen output</translation>
    </message>
    <message>
        <source>输出通道号（1-16）</source>
        <translation>Output number (1-16)</translation>
    </message>
    <message>
        <source>按位输出的通道号</source>
        <translation>Output number for the bit output</translation>
    </message>
    <message>
        <source>开关量输出值（0/1）</source>
        <translation>Output bit value (0/1)</translation>
    </message>
    <message>
        <source>按位输出的值；双击改变</source>
        <translation>Value of the bit output; double-click to change</translation>
    </message>
    <message>
        <source>读取错误!,请检查连接</source>
        <translation>Read error! Check the connection</translation>
    </message>
    <message>
        <source>通讯正常</source>
        <translation>Link normal</translation>
    </message>
</context>
<context>
    <name>frmTrend</name>
    <message>
        <source>趋势图</source>
        <translation>Trend</translation>
    </message>
    <message>
        <source>10 秒</source>
        <translation>10 s</translation>
    </message>
    <message>
        <source>1 分钟</source>
        <translation>1 min</translation>
    </message>
    <message>
        <source>10 分钟</source>
        <translation>10 min</translation>
    </message>
    <message>
        <source>1 小时</source>
        <translation>1 h</translation>
    </message>
    <message>
        <source>±5 V</source>
        <translation>±5 V</translation>
    </message>
    <message>
        <source>适应数据</source>
        <translation>Fit to data</translation>
    </message>
    <message>
        <source>暂停</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>导出</source>
        <translation>Export</translation>
    </message>
    <message>
        <source>CSV 数据…</source>
        <translation>CSV data…</translation>
    </message>
    <message>
        <source>PNG 图片…</source>
        <translation>PNG image…</translation>
    </message>
    <message>
        <source>PDF 文档…</source>
        <translation>PDF document…</translation>
    </message>
    <message>
        <source>时间范围:</source>
        <translation>Span:</translation>
    </message>
    <message>
        <source>纵轴:</source>
        <translation>Value axis:</translation>
    </message>
    <message>
        <source>时间</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>电压 (V)</source>
        <translation>Voltage (V)</translation>
    </message>
    <message>
        <source>光标: 将鼠标移到曲线上</source>
        <translation>Cursor: move the mouse over the curves</translation>
    </message>
    <message>
        <source>通道</source>
        <translation>Channel</translation>
    </message>
    <message>
        <source>光标处 (V)</source>
        <translation>At cursor (V)</translation>
    </message>
    <message>
        <source>最小 (V)</source>
        <translation>Min (V)</translation>
    </message>
    <message>
        <source>最大 (V)</source>
        <translation>Max (V)</translation>
    </message>
    <message>
        <source>平均 (V)</source>
        <translation>Mean (V)</translation>
    </message>
    <message>
        <source>标准差 (V)</source>
        <translation>Std dev (V)</translation>
    </message>
    <message>
        <source>趋势曲线</source>
        <translation>Trend curves</translation>
    </message>
    <message>
        <source>所选通道的电压随时间变化的曲线</source>
        <translation>Voltage of the selected channels over time</translation>
    </message>
    <message>
        <source>时间范围</source>
        <translation>Span</translation>
    </message>
    <message>
        <source>曲线显示的时间长度</source>
        <translation>Length of time the curves show</translation>
    </message>
    <message>
        <source>纵轴</source>
        <translation>Value axis</translation>
    </message>
    <message>
        <source>纵轴固定为正负5伏或适应数据</source>
        <translation>Value axis fixed at plus or minus 5 volts, or fitted to the data</translation>
    </message>
    <message>
        <source>冻结曲线，记录继续</source>
        <translation>Freezes the curves; recording goes on</translation>
    </message>
    <message>
        <source>把可见时间范围导出为CSV、PNG或PDF</source>
        <translation>Exports the visible span as CSV, PNG or PDF</translation>
    </message>
    <message>
        <source>通道统计</source>
        <translation>Channel figures</translation>
    </message>
    <message>
        <source>可见时间范围内每个显示通道的最小、最大、平均和标准差</source>
        <translation>Minimum, maximum, mean and standard deviation of each shown channel over the visible span</translation>
    </message>
    <message>
        <source>通道 %1</source>
        <translation>Channel %1</translation>
    </message>
    <message>
        <source>全部</source>
        <translation>All</translation>
    </message>
    <message>
        <source>无</source>
        <translation>None</translation>
    </message>
    <message>
        <source>继续</source>
        <translation>Resume</translation>
    </message>
    <message>
        <source>无数据</source>
        <translation>no data</translation>
    </message>
    <message>
        <source>读取方式: %1</source>
        <translation>Read mode: %1</translation>
    </message>
    <message>
        <source>光标: %1</source>
        <translation>Cursor: %1</translation>
    </message>
    <message>
        <source>无法写入 %1: %2</source>
        <translation>Cannot write %1: %2</translation>
    </message>
    <message>
        <source>写入中断</source>
        <translation>the write stopped short</translation>
    </message>
    <message>
        <source>无法生成 %1</source>
        <translation>Cannot produce the content of %1</translation>
    </message>
    <message>
        <source>导出失败: %1</source>
        <translation>Export failed: %1</translation>
    </message>
    <message>
        <source>数值 (%1)</source>
        <translation>Value (%1)</translation>
    </message>
    <message>
        <source>单位</source>
        <translation>Unit</translation>
    </message>
    <message>
        <source>光标处</source>
        <translation>At cursor</translation>
    </message>
    <message>
        <source>最小</source>
        <translation>Min</translation>
    </message>
    <message>
        <source>最大</source>
        <translation>Max</translation>
    </message>
    <message>
        <source>平均</source>
        <translation>Mean</translation>
    </message>
    <message>
        <source>标准差</source>
        <translation>Std dev</translation>
    </message>
    <message>
        <source>预警下限</source>
        <translation>warning low</translation>
    </message>
    <message>
        <source>预警上限</source>
        <translation>warning high</translation>
    </message>
    <message>
        <source>报警下限</source>
        <translation>alarm low</translation>
    </message>
    <message>
        <source>报警上限</source>
        <translation>alarm high</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Setup</translation>
    </message>
    <message>
        <source>打开设置…</source>
        <translation>Open setup…</translation>
    </message>
    <message>
        <source>打开设置文件：通道名称、单位和限值</source>
        <translation>Open a setup file: channel names, units and limits</translation>
    </message>
    <message>
        <source>%1, %2</source>
        <translation>%1, %2</translation>
    </message>
    <message>
        <source>限值</source>
        <translation>Level</translation>
    </message>
    <message>
        <source>通道 %1 %2</source>
        <translation>Channel %1 %2</translation>
    </message>
    <message>
        <source>打开设置</source>
        <translation>Open setup</translation>
    </message>
    <message>
        <source>设置文件 (*.toml);;所有文件 (*)</source>
        <translation>Setup files (*.toml);;All files (*)</translation>
    </message>
    <message>
        <source>设置文件未载入，原来的设置不变:
%1</source>
        <translation>The setup file was not loaded; the previous setup stays:
%1</translation>
    </message>
    <message>
        <source>设置文件有误，程序未启动:
%1</source>
        <translation>The setup file is not valid; the program did not start:
%1</translation>
    </message>
</context>
</TS>
