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
%     'spike-thresh'  - set and receive spike thresholds
%     'cont'          - get continuous data
%     'digin'         - retrieve digital inputs
%     'digout'        - control digital outputs
%     'signal'        - enable or disable signals
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
%     'version'       - get software versions
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
%   For more on a command, call it without further arguments, for example
%   kestmex('cont'); kestmex('help') lists the commands in the command window.
%
%   kestmex 1.7.8
