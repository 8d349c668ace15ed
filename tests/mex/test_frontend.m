% Front-end settings: fast settle, the ADC resolution and low corner selectors, the ground and
% reference switches, the digital outputs and the impedance measurement.
expect_equal(kestmex(), true, 'open');

% --- fastsettle (front ends: A1 stim, A2 recording, A3 EMG, A4 transceiver).
[sel, choices, dur] = kestmex('fastsettle', 'stim', 1);
expect_equal(sel, 1, 'stim selection, 1-based');
expect_equal(choices, {'Off'; 'On'}, 'stim choices');
expect_equal(dur, 0.5, 'stim duration');
[sel, choices, dur] = kestmex('fastsettle', 'digin', 40, 3, 2.5);
expect_equal([sel, numel(choices), dur], [3, 6, 2.5], 'source and duration set');
expect_equal(choices{3}, 'Digital Input 2', 'digin choice text');
[sel, ~, dur] = kestmex('fastsettle', 'digin', 40);
expect_equal([sel, dur], [3, 2.5], 'the processor confirmed both');
expect_equal(kestmex('fastsettle', 'digin', 40, 2), 2, 'source alone');
usage = "usage: kestmex('fastsettle', type ('stim', 'digin'), elec, ...')";
expect_error(usage, 'fastsettle', 'stim');
expect_error("invalid sub-command\n\tusage: kestmex('fastsettle', type ('stim', 'digin'),...')", ...
             'fastsettle', 'other', 1);
expect_error('invalid fast settle source', 'fastsettle', 'digin', 40, 0);
expect_error('invalid fast settle source', 'fastsettle', 'digin', 40, 7);
expect_error('fast settle duration must be greater than 0.00', 'fastsettle', 'digin', 40, 1, -1);
expect_error('fast settle duration must be greater than 0.00', 'fastsettle', 'digin', 40, 1, NaN);
expect_error('Front End 32ch EMG A3 does not support fast settle', 'fastsettle', 'stim', 70);
expect_error('electrode 100 does not support fast settle', 'fastsettle', 'stim', 100);
expect_error('invalid electrode - 600', 'fastsettle', 'stim', 600);

% --- adc2phys and lowcorner.
expect_equal(kestmex('adc2phys', 1), 1, 'ADC selector');
kestmex('adc2phys', 1, 2);
expect_equal(kestmex('adc2phys', 1), 2, 'ADC selector set');
expect_error('Selection must be between 1 and 2', 'adc2phys', 1, 3);
expect_error('electrode 10241 does not support ADC resolution changes', 'adc2phys', 10241);
expect_equal(kestmex('lowcorner', [1 40]), 2, 'low corner of the last electrode');
expect_warning('Electrode ID 600 is invalid', 'lowcorner', [1 600 33], 3);
expect_equal([kestmex('lowcorner', 1), kestmex('lowcorner', 33), kestmex('lowcorner', 70)], ...
             [3 3 2], 'set on every valid electrode, and on no other front end');
expect_warning('The hardware filter low corner for electrode 10241 is fixed', 'lowcorner', 10241);
expect_error('Selection must be between 1 and 4', 'lowcorner', 1, 9);

% --- ground and reference: warnings let the other electrodes go on.
kestmex('ground', [2 3], 1);
wait_until(@() pax_record(1, 'Channel Ground Enable Descriptor Block', 1)(5) == 1 && ...
                pax_record(1, 'Channel Ground Enable Descriptor Block', 2)(5) == 1, 'ground on');
expect_warning('Electrode ID 600 is invalid', 'ground', [10241 600 5], 1);
wait_until(@() pax_record(1, 'Channel Ground Enable Descriptor Block', 4)(5) == 1, ...
           'ground after the warnings');
expect_warning('Ground switching for electrode 10241 not supported', 'ground', 10241, 0);
expect_warning('Reference switching for electrode 10241 not supported', 'reference', [33 10241], 1);
wait_until(@() pax_record(3, 'Channel Reference Enable Descriptor Block', 0)(5) == 1, ...
           'reference on');
kestmex('ground', [2 3], '0');
wait_until(@() pax_record(1, 'Channel Ground Enable Descriptor Block', 1)(5) == 0, 'ground off');
expect_error("usage: kestmex('reference', elec(s), '0|1')", 'reference', 1);

% --- digout: outputs 1-4 the single lines, 5 the parallel port.
kestmex('digout', [1 4 5], [1 0 43981]);
wait_until(@() strcmp(paxctl('digout'), '0x9F01ABCD'), 'digital output word');
expect_error('invalid output.', 'digout', [1 6], [1 0]);
expect_error('invalid output.', 'digout', [2 2], [1 0]);
expect_error('invalid inputs', 'digout', 1:6, ones(1, 6));
expect_error('outputs and values sizes must match', 'digout', zeros(2, 3), zeros(3, 2));
expect_error('dimensions must be less than 2', 'digout', ones(1, 1, 2), ones(1, 1, 2));
expect_error('invalid value.', 'digout', 1, -1);
expect_error('invalid value.', 'digout', 1, NaN);
expect_error("usage: kestmex('digital', outputs, values)", 'digout', 1);
expect_equal(paxctl('digout'), '0x9F01ABCD', 'refused commands sent nothing');

% --- impedance: ohms of the model are 50000 + 1000 x channel + 100 x front end.
expect_equal(kestmex('impedance', [33 38]), [50100 55100], 'default current and cycles');
expect_equal(kestmex('impedance', 0), 50000, 'electrode 0 measures electrode 1');
expect_equal(kestmex('impedance', 1:4, 10, 'fast'), [50000 51000 52000 53000], 'fast');
control = pax_record(1, 'Impedance Control', 0);
expect_equal(control([23 24]), [1 0], 'fast is one cycle');
kestmex('impedance', 1:2, 100, 'highest');
control = pax_record(1, 'Impedance Control', 0);
expect_equal([control(21), control(23) + 256 * control(24)], [2, 1000], 'highest, 100 uA');
kestmex('impedance', 1, 1, 50);
control = pax_record(1, 'Impedance Control', 0);
expect_equal([control(21), control(23)], [0, 50], 'cycles given, 1 uA');
paxctl('impedance underflow 2');
paxctl('impedance overflow 3');
values = kestmex('impedance', 1:4, 10, 'default');
expect_equal(isnan(values), [false false true true], 'under- and overflow as NaN');
paxctl('impedance clear');
paxctl('impedance delay 1500');
expect_equal(kestmex('impedance', 1), 50000, 'a slow measurement');
paxctl('impedance normal');
expect_error("Unsupported current value\nSupported currents: 1uA 10uA 100uA", ...
             'impedance', 1, 5, 'fast');
expect_error(["Unsupported accuracy 'slow'\nACCURACY should be one of 'default', 'fast', " ...
              "'medium', 'highest'"], 'impedance', 1, 10, 'slow');
expect_error(["Unsupported accuracy '" repmat('a', 1, 511) "'\nACCURACY should be one of " ...
              "'default', 'fast', 'medium', 'highest'"], 'impedance', 1, 10, repmat('a', 1, 600));
expect_error(["Unsupported measurement cycles 1001\nMeasurement cycles should be in the range " ...
              "from 1 to 1000'"], 'impedance', 1, 10, 1001);
expect_error("usage: kestmex('impedance', elec[1-512])", 'impedance', []);
expect_error('unknown error', 'impedance', [1 40]);
try
  kestmex('impedance', 1, 10);
  error('three inputs must fail');
catch err
  assert(~isempty(strfind(err.message, 'ACCURACY - there may also be a number 1 - 1000')), ...
         err.message);
end
