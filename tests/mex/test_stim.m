% Stimulation: settings and their texts, software triggers, parameter texts played by the
% emulated processor and switched off after their train, and sequences with their checks.
% Front ends: 1 (electrodes 1-32) stimulates; 2 (33-64) records only; 3 (65-96) has
% stimulation settings but no stimulation addresses. Over the stream link, with only
% stimulation segments streamed, so that no echo or segment the checks count gets lost.
expect_equal(kestmex('tcp'), true, 'open');

% --- Usage and settings.
expect_error(sprintf(['usage: kestmex(''stim'', stim_string)\n' ...
  '       kestmex(''stim'', ''enable'', [0|1])\n' ...
  '       kestmex(''stim'', ''module-enable'', electrode, [val])\n' ...
  '       kestmex(''stim'', ''res'', electrode, [val])\n' ...
  '       kestmex(''stim'', ''trigger-source'', [0-4])\n' ...
  '       kestmex(''stim'', ''trigger'', [electrode | ''all''])\n']), 'stim');
expect_error('stim command requires stim parameter string', 'stim', 5);
expect_equal(kestmex('stim', 'enable'), 0, 'global enable off at start');
kestmex('stim', 'enable', 1);
expect_equal(kestmex('stim', 'enable'), 1, 'global enable on');
kestmex('stim', 'enable', 0);
expect_equal(kestmex('stim', 'enable'), 0, 'global enable off');

expect_equal(kestmex('stim', 'module-enable', 1, 0), 0, 'value written');
expect_equal(kestmex('stim', 'module-enable', 1), 0, 'front end off');
expect_equal(kestmex('stim', 'module-enable', 1, 1), 1, 'value written');
expect_error('electrode 40 does not support stim', 'stim', 'module-enable', 40);
expect_error('usage: kestmex(''stim'', ''module-enable'', electrode, [val])', 'stim', 'module-enable');

% Resolution and exhausting resistor: 1-based levels.
expect_equal(kestmex('stim', 'res', 3), 1, 'first level');
expect_equal(kestmex('stim', 'res_options', 3), [1 2 5 10 20], 'steps in uA');
expect_error('Selection must be between 1 and 5', 'stim', 'res', 3, 0);
expect_error('Selection must be between 1 and 5', 'stim', 'res', 3, 6);
expect_error('Selection must be between 1 and 5', 'stim', 'res', 3, NaN);
kestmex('stim', 'res', 3, 5);
expect_equal(kestmex('stim', 'res', 3), 5, 'last level');
expect_error('electrode 40 does not support ADC resolution changes', 'stim', 'res', 40);
expect_error('electrode 40 does not support ADC resolution changes', 'stim', 'res_options', 40);
expect_error('usage: kestmex(''stim'', ''res'', elec, [value 1-5]'')', 'stim', 'res');
kestmex('stim', 'exhaust', 3, 4);
expect_equal(kestmex('stim', 'exhaust', 3), 4, 'exhaust level');
expect_error('Selection must be between 1 and 4', 'stim', 'exhaust', 3, 5);
expect_error('electrode 40 does not support exhausting resistor changes', 'stim', 'exhaust', 40, 1);
kestmex('stim', 'enable', 1);
expect_error('stim must be disabled to change stim resolution, see kestmex(''stim'', ''enable'')', ...
             'stim', 'res', 3, 2);
expect_error('stim must be disabled to change exhaust resistor, see kestmex(''stim'', ''enable'')', ...
             'stim', 'exhaust', 3, 2);
kestmex('stim', 'enable', 0);
kestmex('stim', 'res', 3, 1);

% Trigger source (0-based, written without confirmation) and triggers.
kestmex('stim', 'trigger-source', 3, 2);
wait_until(@() kestmex('stim', 'trigger-source', 3) == 2, 'trigger source');
expect_error('failed to get stim trigger source', 'stim', 'trigger-source', 40);
expect_error('failed to set stim trigger source', 'stim', 'trigger-source', 3, 4);
expect_error('usage: kestmex(''stim'', ''trigger-source'', elec, [value 0-4]'')', ...
             'stim', 'trigger-source', 3, 1, 1);
kestmex('stim', 'trigger', 'all');
kestmex('stim', 'trigger', 3);
expect_error('invalid stim trigger target', 'stim', 'trigger', 'ALL');
expect_error('Stim trigger failed', 'stim', 'trigger', 40);
expect_error('usage: kestmex(''stim'', ''trigger'', [electrode | ''all''])', 'stim', 'trigger');

% --- A parameter text: switched on, played, switched off after its train.
kestmex('stimdata', [1 2]);
kestmex('stim', 'Elect=1;TL=200;Freq=50;Dur=0.2;Amp=10');
wait_until(@() kestmex('stim', 'enable') == 0, 'switch-off after the train');
[counts, times, wfs] = kestmex('stimdata', 1);
expect_equal(counts, 10, 'every pulse of the train');
expect_equal(double(wfs{1}(1, 1:14)), [-10 * ones(1, 6), 0, 0, 10 * ones(1, 6)], ...
             'cathodic, gap, anodic at 1 uA per step');

% A second text while the first one's switch-off is pending is not cut short by it.
kestmex('stim', 'Elect=1;TL=300;Freq=20;Dur=0.2;Amp=5');
kestmex('stim', 'Elect=2;TL=1500;Freq=20;Dur=0.2;Amp=5');
wait_until(@() kestmex('stim', 'enable') == 0, 'switch-off after the longer train');
expect_equal(kestmex('stimdata', [1 2]), [6; 30], 'both trains played whole');

expect_error('invalid stim command', 'stim', 'Elect=1;Freq=100');
expect_equal(kestmex('stim', 'enable'), 0, 'nothing switched on for an invalid text');
expect_error('stim string included invalid electrode(s)', 'stim', ...
             'Elect=40;TL=100;Freq=50;Dur=0.2;Amp=5');
expect_equal(kestmex('stim', 'enable'), 0, 'switched off again after a failed send');

% --- Sequences.
items = struct('length', {6, 2, 6}, 'pol', {0, 0, 1}, 'ampl', {10, 0, 10}, 'enable', {1, 1, 1}, ...
               'ampSelect', {1, 1, 1}, 'fs', {0, 0, 0}, 'delay', {0, 0, 0});
s = struct('elec', 1, 'period', 14, 'repeats', 3, 'action', 'immed');
s.seq = items;
kestmex('stimseq', s);
played = 0;
waiting = tic;
while played < 3 && toc(waiting) < 10
  played = played + kestmex('stimdata', 1);
  pause(0.02);
end
expect_equal(played, 3, 'three cycles');
expect_equal(kestmex('stim', 'enable'), 1, 'a sequence leaves stimulation on');
kestmex('stim', 'enable', 0);

expect_error('usage: kestmex(''stimseq'', stim_cmd', 'stimseq');
expect_error('usage: kestmex(''stimseq'', stim_cmd', 'stimseq', 5);
bad = rmfield(s, 'repeats');
expect_error('bad repeats', 'stimseq', rmfield(bad, 'elec'));
expect_error('bad elec', 'stimseq', rmfield(s, 'elec'));
expect_error('bad period', 'stimseq', rmfield(s, 'period'));
t = s; t.action = 'later';
expect_error(['invalid action string.  Must be one of ''immed'', ''curcyc'', ''allcyc'', ' ...
              '''trigger'', or ''at-time'''], 'stimseq', t);
checks = {'repeats', 'x', 'invalid repeats. Must be numeric.'; ...
          'repeats', NaN, 'invalid repeats. Must be numeric.'; ...
          'repeats', 0, 'invalid repeats. Must be 1 or greater.'; ...
          'repeats', 4096, 'invalid repeats. Must be less than 4096.'; ...
          'repeats', -1, 'invalid repeats. Must be less than 4096.'; ...
          'elec', 'x', 'invalid electrode IDs. Must be numeric.'; ...
          'elec', 0, 'invalid electrode IDs.'; ...
          'elec', 514, 'invalid electrode IDs.'; ...
          'elec', 1e300, 'invalid electrode IDs.'; ...
          'elec', 40, 'invalid electrode IDs.'; ...
          'period', NaN, 'invalid period. Must be numeric.'; ...
          'period', 0, 'invalid period. Must be 1 or greater.'; ...
          'period', 65536, 'invalid period. Must be less than 65536.'; ...
          'period', 13, 'Total sequence duration must be less than period.'};
for k = 1:size(checks, 1)
  t = s;
  t.(checks{k, 1}) = checks{k, 2};
  expect_error(checks{k, 3}, 'stimseq', t);
end

% Items: fields by position, then by name, then each value.
item_checks = {'length', 1.5, 'stim seq item [2]: ''length'' field [1.500000] is invalid - (must be an integer)'; ...
               'length', 0, 'length must be > 0'; ...
               'pol', 2, 'stim seq item [2]: ''pol'' field [2.000000] is invalid - (must be the integer 0 or 1)'; ...
               'enable', 0.5, 'stim seq item [2]: ''enable'' field [0.500000] is invalid - (must be the integer 0 or 1)'; ...
               'fs', 3, 'stim seq item [2]: ''fs'' (a.k.a. fast settle) field [3.000000] is invalid - (must be the integer 0 or 1)'; ...
               'ampSelect', 2, 'stim seq item [2]: ''ampSelect'' field [2.000000] is invalid - (must be the integer 0 or 1)'; ...
               'delay', 32, 'stim seq item [2]: ''delay'' field [32.000000] is invalid - (must be an integer from 0 through 31)'; ...
               'ampl', -1, 'sequence fields must be >= 0'; ...
               'ampl', NaN, 'sequence fields must be >= 0'; ...
               'ampl', 'x', 'sequence fields must be numeric'};
for k = 1:size(item_checks, 1)
  t = s;
  t.seq(2).(item_checks{k, 1}) = item_checks{k, 2};
  expect_error(item_checks{k, 3}, 'stimseq', t);
end
t = s;
t.seq = rmfield(items, 'fs');
expect_error('bad fs', 'stimseq', t);
t.seq = rmfield(items, {'pol', 'fs'});
expect_error('bad pol', 'stimseq', t);
t = s;
t.seq = repmat(items(1), 1, 248);
t.seq(1).length = 1;
t.period = 65535;
expect_error('Invalid stimulation sequence.', 'stimseq', t);

% The amplitude limit of the front end's model (with calibration: 100; limited above level 4:
% 75), and a huge value printed whole.
label = 'Front End 32ch rec+stim A1';
t = s;
t.seq(2).ampl = 101;
expect_error(sprintf(['stim seq item [2]: ''ampl'' field [101.000000] is invalid\nFor %s ampl ' ...
                      'value(must be an integer from 0 through 100 when stim res. is 1.000000 uA)'], ...
                     label), 'stimseq', t);
t.seq(2).ampl = 1e300;
expect_error(sprintf(['stim seq item [2]: ''ampl'' field [%f] is invalid\nFor %s ampl ' ...
                      'value(must be an integer from 0 through 100 when stim res. is 1.000000 uA)'], ...
                     1e300, label), 'stimseq', t);
kestmex('stim', 'res', 1, 5);
t.seq(2).ampl = 76;
expect_error(sprintf(['stim seq item [2]: ''ampl'' field [76.000000] is invalid\nFor %s ampl ' ...
                      'value(must be an integer from 0 through 75 when stim res. is 20.000000 uA)'], ...
                     label), 'stimseq', t);
kestmex('stim', 'res', 1, 1);

% A failed send switches stimulation off only when this command switched it on.
t = s;
t.elec = 70;
expect_error('Invalid stimulation sequence.', 'stimseq', t);
expect_equal(kestmex('stim', 'enable'), 0, 'switched off again');
kestmex('stim', 'enable', 1);
expect_error('Invalid stimulation sequence.', 'stimseq', t);
expect_equal(kestmex('stim', 'enable'), 1, 'left on: the user switched it on');
kestmex('stim', 'enable', 0);

% Without a global enable (its cached copy cleared by a write the processor left unanswered),
% "res" and "exhaust" refuse to change anything.
paxctl('echo drop');
expect_error('failed to set property', 'stim', 'enable', 1);
expect_error('failed to retrieve global stim enable property', 'stim', 'res', 3, 2);
expect_error('failed to retrieve global stim enable property', 'stim', 'exhaust', 3, 2);
expect_equal(kestmex('stim', 'res', 3), 1, 'resolution unchanged');
paxctl('echo normal');
