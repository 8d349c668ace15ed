function sweep_call(args, outputs)
  % Calls kestmex(args{:}) asking for `outputs` results, with its printed text captured.
  out = cell(1, outputs);
  if outputs == 0
    evalc('kestmex(args{:});');
  else
    evalc('[out{:}] = kestmex(args{:});');
  end
end
