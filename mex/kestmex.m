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
%
%   kestmex 1.7.8
