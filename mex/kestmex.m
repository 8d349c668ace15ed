% KESTMEX  Work with a PAX processor from MATLAB or GNU Octave.
%
%   kestmex(cmdstr [, args])
%
%   The first call opens the connection to the processor and returns true
%   once the processor's modules and properties are known (false, with the
%   warning "unable to connect to processor", when none answers). The command
%   of that first call is not run; its words are read as startup options:
%
%     kestmex                      open over UDP (the default)
%     kestmex('tcp')               open over TCP
%     kestmex('no-warning')        no warnings about lost data packets
%     kestmex('addr', '<ipv4>')    talk to the processor at that address
%
%   Later calls run commands:
%
%     'time'          - display latest PAX time
%     'elec'          - retrieve electrode numbers by type of headstage.
%     'spike'         - get recent spike counts and times
%     'stimdata'      - get recent stimulation segment counts and times
%     'spike-thresh'  - set and receive spike thresholds
%     'cont'          - get continuous data
%     'cont-adc'      - get continuous data (the same as 'cont')
%     'digin'         - retrieve digital inputs
%     'digout'        - control digital outputs
%     'signal'        - enable or disable signals
%     'signal-save'   - read and set which signals are saved to file
%     'filter'        - modify and retrieve filter information
%     'stim'          - send stim control string
%     'stimseq'       - complex control of stimulation
%     'fastsettle'    - control fast settle on front ends
%     'adc2phys'      - select the electrode's ADC resolution
%     'lowcorner'     - select the electrode's hardware filter low corner
%     'addoper'       - connect to Kest operator (TCP only)
%     'trial'         - control file save on Quillon operators
%     'impedance'     - trigger impedance measurement
%     'ground'        - connect electrode channel to ground
%     'reference'     - connect electrode channel to reference
%     'transceiver'   - send commands to TALO transceiver
%     'close'         - close UDP socket and delete cached data
%     'battery'       - get internal battery percentage
%     'sensor'        - get sensor data
%     'button'        - read processor buttons
%     'led'           - set processor LEDs
%     'audio-tone'    - set and receive audio tone
%     'processor'     - commands to control the processor
%     'processor-status'  - check whether a processor answers on the network
%     'processor-restart' - restart the processor software
%     'version'       - get software versions
%     'help'          - list the commands
%
%   Signals and filters (electrodes are 1-based):
%
%     kestmex('signal', elec)                   streams of the electrodes
%     kestmex('signal', elec, stream [, value]) read or switch a stream
%     kestmex('signal', 'digin' [, value])      the digital input stream
%     kestmex('signal-save', elec, stream [, value] [, target])
%         saved to file by the first operator, by target 'processor' or by
%         the operator at the address target (operators: TCP only)
%     kestmex('filter', 'list', elec [, filter [, select]])
%     kestmex('filter', 'set', elec, filter, select)
%     kestmex('filter', 'custom', elec, filter, sos) with the fields label,
%         center, lowCutoff, highCutoff, centerOrder, lowOrder, highOrder,
%         numStages and sos (numStages x 6: b0 b1 b2 a0 a1 a2 per stage)
%
%   Stimulation (electrodes are 1-based):
%
%     kestmex('stim', 'Elect=1;TL=200;Freq=50;Dur=0.2;Amp=10')
%                                  play a parameter text (keys Elect, Freq, TL,
%                                  CathDur, AnodDur, Dur, CathAmp, AnodAmp, Amp, TD,
%                                  FS, PL; one value per train); switches global
%                                  stimulation on when needed and off again 100 ms
%                                  after the longest train
%     kestmex('stim', 'enable', [0|1])             global stimulation enable
%     kestmex('stim', 'module-enable', elec, [v])  the front end's enable
%     kestmex('stim', 'res', elec, [level])        resolution level, 1-based
%     kestmex('stim', 'res_options', elec)         resolution steps in uA
%     kestmex('stim', 'exhaust', elec, [level])    exhausting resistor, 1-based
%     kestmex('stim', 'trigger-source', elec, [s]) trigger source, 0-based
%     kestmex('stim', 'trigger', elec | 'all')     software trigger
%     kestmex('stimseq', seqs)     sequences word by word: struct array with
%                                  elec, period (ticks), repeats, optional action
%                                  ('immed', 'curcyc', 'allcyc', 'trigger',
%                                  'at-time') and seq (struct array of length,
%                                  pol, ampl, enable, ampSelect, fs, delay)
%
%   'help', 'processor' and 'processor-status' work without a connection and
%   never open one: kestmex('processor-status') returns 1 when a processor
%   answers on the network and 0 otherwise.
%
%   'close' ends the connection; the next call opens a new one. When the
%   processor's configuration changes, the call fails with "PAX configuration
%   changed.  Please restart kestmex." and the next call opens again.
%
%   Errors and warnings that the processor reports arrive as errors and
%   warnings of the next kestmex call.
%
%   Recording operators (applications on other hosts; TCP connection only):
%
%     id = kestmex('addoper', address [, policy [, timeout_ms]])
%         address: '192.168.42.150', '43.130', '128', or a host number 0-255.
%         policy: 'prefer-wired' (default), 'prefer-wireless', 'wired-only'
%         or 'wireless-only'; timeout_ms: 0 or none means 10000. Returns the
%         operator's id (uint32); a bad argument prints the usage instead.
%     t = kestmex('trial')                  the first operator's trial
%     t = kestmex('trial', operator)        another operator's ('131', 131)
%     t = kestmex('trial', status)          'recording', 'stopped', 'paused'
%     t = kestmex('trial', status, file_base, stop_time, auto_incr, ...
%                 incr_num, operator)
%         status may be [] (no change); empty or missing arguments are left
%         as they are. 'paused' on a paused trial resumes it. t has the
%         fields status, filebase, auto_incr, stop_time, incr_num (shown as
%         unsigned 32-bit values) and error_msg. An operator that does not
%         answer within about 2 s gives "no response"; one whose connection
%         has gone "operator not found" (add it again with 'addoper').
%
%   The processor's peripherals and implant transceivers (electrodes 1-512):
%
%     kestmex('battery')                        internal battery charge in percent
%     kestmex('sensor', NAME [, option])        NAME 'battery', 'external-battery',
%                                               'detect-external-battery', 'wall' or
%                                               'vdd'; [i, v, p] = kestmex('sensor',
%                                               'wall') gives current, voltage, power
%     kestmex('button', NAME)                   presses since the previous query;
%                                               NAME 'stop_stim', 'event', 'f1', 'f2'
%     kestmex('button', 'watch', NAME, value)
%     kestmex('led', NAME)                      LED state; NAME 'event', 'f1', 'f2'
%     kestmex('led', 'set'|'watch', NAME, value)
%     kestmex('audio-tone', freqHz, durationMs) each 0-65535
%     kestmex('transceiver', 'enable', elec [, flag])
%     kestmex('transceiver', 'connected'|'status', elec)
%     kestmex('transceiver', 'command', elec, cmd, data)   data: up to 32 words
%
%   Front-end settings (electrodes 1-based):
%
%     [sel, choices, dur] = kestmex('fastsettle', 'stim'|'digin', elec [, source [, dur]])
%                         fast settle after stimulation or on a digital input: the
%                         source (1-based) among the choices, the duration in ms
%     sel = kestmex('adc2phys', elec)          ADC resolution; kestmex('adc2phys', elec, sel)
%     sel = kestmex('lowcorner', elecs)        hardware filter low corner;
%                                              kestmex('lowcorner', elecs, sel) sets it
%     kestmex('ground', elecs, 0|1)            channel ground switch off or on
%     kestmex('reference', elecs, 0|1)         channel reference switch off or on
%     kestmex('digout', outputs, values)       outputs 1-4 the single lines (0 low, else
%                                              high), 5 the 16-bit parallel port
%     ohms = kestmex('impedance', elecs [, current, accuracy])
%                         impedance of electrodes of one front end (NaN: under- or
%                         overflow); current in uA; accuracy 'fast' (1 cycle), 'medium'
%                         (100), 'default' (300), 'highest' (1000) or a number of cycles
%                         1-1000. A measurement may take up to 2 minutes.
%
%   For more on a command, call it without further arguments, for example
%   kestmex('cont'); kestmex('help') lists the commands in the command window.
%   docs/commands.md describes every command, its outputs and errors, and how
%   to find faults (networks, ports, receive buffers, lost packets).
%
%   kestmex 1.7.8
